#include "checker/class_checks.h"

#include "broker/kestor_interface.h"
#include "checker/registry_reader.h"

namespace {

const char kClass[] = "class";
const char kAppId[] = "appid";
const char kClassKey[] = "CLSID\\" KESTOR_CLSID_TEXT;
const char kAppIdKey[] = "AppID\\" KESTOR_APPID_TEXT;
const char kProgramAppIdKey[] = "AppID\\" KESTOR_CHECK_PROGRAM_FILE;
const char kReadRemedy[] = "run the check as a user who may read HKEY_CLASSES_ROOT";

// A ProgID's value, in the broker's view or, where ProgIDs are shared
// between the views (as on Windows 7 and later), in this program's own.
std::string ProgIdValue(const std::string &path, const RegistryView &view)
{
    std::string text = StringValue(HKEY_CLASSES_ROOT, path, NULL, view);
    return text.empty() ? StringValue(HKEY_CLASSES_ROOT, path, NULL, {view.label, 0, false}) : text;
}

// A ProgID key must lead back to the class.
void CheckProgId(const char *progId, const RegistryView &view, Findings *findings)
{
    std::string clsid = ProgIdValue(std::string(progId) + "\\CLSID", view);
    if (clsid.empty())
        findings->Add(std::string("the ProgID ") + progId + " is missing");
    else if (!SameText(clsid, KESTOR_CLSID_TEXT))
        findings->Add(std::string("the ProgID ") + progId + " names the class " + clsid);
}

}  // namespace

CheckResult CheckClass(Installation *installation)
{
    const RegistryView view = BrokerView();
    ReadKey classKey;
    LONG error = classKey.Open(HKEY_CLASSES_ROOT, kClassKey, view);
    if (error == ERROR_FILE_NOT_FOUND)
        return Failed(
            kClass, std::string("KestorObj is not registered: HKCR\\") + kClassKey + " is missing");
    if (error != ERROR_SUCCESS)
        return NotChecked(kClass, std::string("HKCR\\") + kClassKey, error, kReadRemedy);

    Findings findings;
    std::string text;
    if (classKey.ReadString("AppID", &text) != ERROR_SUCCESS || !SameText(text, KESTOR_APPID_TEXT))
        findings.Add("the class names no AppID " KESTOR_APPID_TEXT);
    if (StringValue(classKey.Get(), "ProgID", NULL, view) != KESTOR_PROGID)
        findings.Add("the class's ProgID is not " KESTOR_PROGID);
    CheckProgId(KESTOR_PROGID, view, &findings);
    CheckProgId(KESTOR_PROGID_INDEPENDENT, view, &findings);
    if (!SameText(ProgIdValue(KESTOR_PROGID_INDEPENDENT "\\CurVer", view), KESTOR_PROGID))
        findings.Add("the ProgID " KESTOR_PROGID_INDEPENDENT " does not lead to " KESTOR_PROGID);

    std::string commandLine = StringValue(classKey.Get(), "LocalServer32", NULL, view);
    std::string program = ProgramOfCommandLine(commandLine);
    installation->brokerFolder = FolderOf(program);
    if (program.empty())
    {
        findings.Add("the class has no LocalServer32 program");
    }
    else if (!SameText(FileNameOf(program), KESTOR_CHECK_PROGRAM_FILE))
    {
        findings.Add("LocalServer32 names " + program + ", not " KESTOR_CHECK_PROGRAM_FILE);
    }
    else if (!FileExists({program, false}))
    {
        findings.Add("LocalServer32 names " + program + ", which does not exist");
    }
    else
    {
        installation->server = {program, false};
    }

    if (!findings.Empty())
        return Failed(kClass, findings.Text());
    return Passed(kClass, "KestorObj (" KESTOR_PROGID_INDEPENDENT ") runs " + program);
}

CheckResult CheckAppId(Installation *installation)
{
    const RegistryView view = BrokerView();
    ReadKey appIdKey;
    LONG error = appIdKey.Open(HKEY_CLASSES_ROOT, kAppIdKey, view);
    if (error == ERROR_FILE_NOT_FOUND)
        return Failed(kAppId, std::string("HKCR\\") + kAppIdKey + " is missing");
    if (error != ERROR_SUCCESS)
        return NotChecked(kAppId, std::string("HKCR\\") + kAppIdKey, error, kReadRemedy);

    Findings findings;
    if (!SameText(StringValue(HKEY_CLASSES_ROOT, kProgramAppIdKey, "AppID", view),
                  KESTOR_APPID_TEXT))
        findings.Add(std::string("HKCR\\") + kProgramAppIdKey + " does not name the AppID");

    std::string service;
    error = appIdKey.ReadString("LocalService", &service);
    installation->serviceMode = error != ERROR_FILE_NOT_FOUND;
    installation->modeKnown =
        error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND || error == ERROR_INVALID_DATATYPE;
    if (error == ERROR_INVALID_DATATYPE)
        findings.Add("LocalService is not a text");
    else if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND)
        return NotChecked(kAppId, "LocalService", error, kReadRemedy);
    else if (installation->serviceMode && !SameText(service, KESTOR_CHECK_SERVICE_NAME))
        findings.Add("LocalService names the service \"" + service +
                     "\", not " KESTOR_CHECK_SERVICE_NAME ": COM cannot start the broker");

    // Only the service registration writes ServiceParameters, and only
    // unregistration removes it: packages and install.cmd always register
    // the service, a registration by hand with -RegServer never does.
    std::string parameters;
    error = appIdKey.ReadString("ServiceParameters", &parameters);
    installation->serviceExpected = error != ERROR_FILE_NOT_FOUND;
    if (installation->serviceExpected && !installation->serviceMode)
        findings.Add(
            "local-server mode, though the installation registered the service "
            "(ServiceParameters is set) and did not finish: COM starts " KESTOR_CHECK_PROGRAM_FILE
            " with each client's rights, and an ordinary "
            "user cannot write HKEY_CLASSES_ROOT");

    if (!findings.Empty())
    {
        installation->serviceUnusable = installation->serviceMode;
        return Failed(kAppId, findings.Text());
    }
    if (installation->serviceMode)
        return Passed(kAppId, "service mode: COM starts the service " KESTOR_CHECK_SERVICE_NAME);
    return Passed(kAppId,
                  "local-server mode: no LocalService, COM starts " KESTOR_CHECK_PROGRAM_FILE
                  " as a program with its client's rights");
}
