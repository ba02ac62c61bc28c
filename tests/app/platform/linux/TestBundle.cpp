#include "tests/app/platform/linux/TestBundle.hpp"

#include "core/building/InfoPlistPatcher.hpp"
#include "tests/support/TempDir.hpp"

namespace korvel::test {
namespace {

std::filesystem::path layOut(const std::filesystem::path& folder, const std::string& name,
    const std::string& identifier, const std::string& executableName)
{
    const std::filesystem::path bundle = folder / (name + ".app");
    std::filesystem::create_directories(bundle / "Contents" / "MacOS");
    PlistDictionary plist {{"CFBundleName", name}, {"CFBundleExecutable", executableName},
        {"CFBundlePackageType", "APPL"}, {"CFBundleShortVersionString", "1.0"}};
    if (!identifier.empty())
        plist["CFBundleIdentifier"] = identifier;
    InfoPlistPatcher::write(plist, bundle / "Contents" / "Info.plist");
    return bundle;
}

// Writes the arguments to a temporary file first, so that a reader never sees half of them.
std::string recordArguments(const std::filesystem::path& file)
{
    return "printf '%s\\0' \"$@\" > '" + file.string() + ".tmp' && /bin/mv '" + file.string() + ".tmp' '" +
        file.string() + "'\n";
}

} // namespace

std::string TestBundle::stayingScript(const std::optional<std::filesystem::path>& argumentsFile)
{
    std::string script = "#!/bin/sh\n";
    if (argumentsFile)
        script += recordArguments(*argumentsFile);
    // sh runs a trap only between commands, so the wait must be interruptible. A sleep that outlives the script
    // (a SIGTERM right between its start and `child=`) must not hold the test's output open.
    script += "trap 'kill $child 2>/dev/null; exit 0' TERM\n"
              "sleep 1000 </dev/null >/dev/null 2>&1 & child=$!\n"
              "wait $child\n";
    return script;
}

std::string TestBundle::recordingScript(const std::filesystem::path& argumentsFile)
{
    return "#!/bin/sh\n" + recordArguments(argumentsFile);
}

std::filesystem::path TestBundle::withScript(const std::filesystem::path& folder, const std::string& name,
    const std::string& identifier, const std::string& executableName, const std::string& script)
{
    const std::filesystem::path bundle = layOut(folder, name, identifier, executableName);
    const std::filesystem::path file = bundle / "Contents" / "MacOS" / executableName;
    writeText(file, script);
    std::filesystem::permissions(file, std::filesystem::perms(0755));
    return bundle;
}

std::filesystem::path TestBundle::withProgram(const std::filesystem::path& folder, const std::string& name,
    const std::string& identifier, const std::string& executableName, const std::filesystem::path& program)
{
    const std::filesystem::path bundle = layOut(folder, name, identifier, executableName);
    const std::filesystem::path file = bundle / "Contents" / "MacOS" / executableName;
    std::filesystem::copy_file(program, file);
    std::filesystem::permissions(file, std::filesystem::perms(0755));
    return bundle;
}

void TestBundle::addURLScheme(const std::filesystem::path& bundle, const std::string& scheme)
{
    const std::filesystem::path file = bundle / "Contents" / "Info.plist";
    PlistDictionary plist = InfoPlistPatcher::read(file);
    PlistDictionary urlType {{"CFBundleURLName", scheme}, {"CFBundleURLSchemes", PlistArray {scheme}}};
    plist["CFBundleURLTypes"] = PlistArray {urlType};
    InfoPlistPatcher::write(plist, file);
}

std::filesystem::path TestBundle::executable(const std::filesystem::path& bundle)
{
    const auto name = InfoPlistPatcher::readStringValue(bundle / "Contents" / "Info.plist", "CFBundleExecutable");
    return bundle / "Contents" / "MacOS" / name.value_or("");
}

} // namespace korvel::test
