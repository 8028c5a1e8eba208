#include "service/service_module.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Points this process's standard output at a pipe while a test runs.
class CapturedOutput
{
public:
    CapturedOutput()
    {
        EXPECT_TRUE(CreatePipe(&m_read, &m_write, NULL, 1 << 16));
        m_saved = GetStdHandle(STD_OUTPUT_HANDLE);
        SetStdHandle(STD_OUTPUT_HANDLE, m_write);
    }
    ~CapturedOutput()
    {
        SetStdHandle(STD_OUTPUT_HANDLE, m_saved);
        CloseHandle(m_read);
        if (m_write != NULL)
            CloseHandle(m_write);
    }

    std::string Text()
    {
        SetStdHandle(STD_OUTPUT_HANDLE, m_saved);
        CloseHandle(m_write);
        m_write = NULL;
        std::string text;
        char chunk[512];
        DWORD read = 0;
        while (ReadFile(m_read, chunk, sizeof chunk, &read, NULL) && read > 0)
            text.append(chunk, read);
        return text;
    }

private:
    HANDLE m_read = NULL;
    HANDLE m_write = NULL;
    HANDLE m_saved = NULL;
};

TEST(LogMessageTest, LocalServerWritesFormattedLinesToStandardOutput)
{
    g_serviceModule.m_isService = FALSE;
    CapturedOutput output;
    g_serviceModule.LogMessage("Service started");
    g_serviceModule.LogMessage("%s %d", "request", 42);
    EXPECT_EQ("Service started\nrequest 42\n", output.Text());
}

TEST(LogMessageTest, LongTextIsCutToTheBuffer)
{
    g_serviceModule.m_isService = FALSE;
    CapturedOutput output;
    std::string longText(400, 'k');
    g_serviceModule.LogMessage("%s", longText.c_str());
    EXPECT_EQ(std::string(255, 'k') + "\n", output.Text());
}

TEST(LogMessageTest, ServiceModeWritesNothingToStandardOutput)
{
    lstrcpyA(g_serviceModule.m_serviceName, "KestorLogTest");
    g_serviceModule.m_isService = TRUE;
    CapturedOutput output;
    g_serviceModule.LogMessage("Bad service request");
    g_serviceModule.m_isService = FALSE;
    EXPECT_EQ("", output.Text());
}

}  // namespace
