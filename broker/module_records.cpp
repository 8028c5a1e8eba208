// The three module records, constructed before the program's entry point
// runs and torn down after it returns.
#include "com_module.h"

// The image this code is linked into: the program, or a test program.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

bool InitRecordLock(CRITICAL_SECTION *lock)
{
    if (InitializeCriticalSectionEx(lock, 0, 0))
        return true;
    ZeroMemory(lock, sizeof *lock);
    return false;
}

void TermRecordLock(CRITICAL_SECTION *lock, bool *initialised)
{
    if (*initialised)
    {
        DeleteCriticalSection(lock);
        *initialised = false;
    }
}

HINSTANCE ThisImage()
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

}  // namespace

CBaseModuleRecord g_baseModuleRecord;
CComModuleRecord g_comModuleRecord;
CWindowModuleRecord g_windowModuleRecord;

CBaseModuleRecord::CBaseModuleRecord()
    : m_instance(ThisImage()),
      m_resourceInstance(ThisImage()),
      m_lockInitialised(InitRecordLock(&m_lock))
{}

CBaseModuleRecord::~CBaseModuleRecord()
{
    TermRecordLock(&m_lock, &m_lockInitialised);
}

CComModuleRecord::CComModuleRecord()
    : m_typeLibraryInstance(ThisImage()),
      m_autoObjectsBegin(NULL),
      m_autoObjectsEnd(NULL),
      m_lockInitialised(InitRecordLock(&m_lock))
{}

CComModuleRecord::~CComModuleRecord()
{
    TermRecordLock(&m_lock, &m_lockInitialised);
}

CWindowModuleRecord::CWindowModuleRecord()
    : m_classesToUnregister(NULL), m_classCount(0), m_lockInitialised(InitRecordLock(&m_lock))
{}

CWindowModuleRecord::~CWindowModuleRecord()
{
    TermRecordLock(&m_lock, &m_lockInitialised);
}
