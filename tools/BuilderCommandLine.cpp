#include "tools/BuilderCommandLine.h"

#include "stub/core/PackageFormat.h"
#include "tools/SetupBuilder.h"

#include <cstdint>
#include <functional>
#include <map>

namespace {

const char kUsage[] =
    "Usage: PackageBuilder --stub FILE --files FOLDER --engine NAME --output FILE [options]\n"
    "\n"
    "  --stub FILE              the stub program the package is appended to\n"
    "  --files FOLDER           the files to install (subfolders included)\n"
    "  --engine NAME            the setup engine among them (path relative to FOLDER)\n"
    "  --engine-params TEXT     the engine's command-line parameters\n"
    "  --output FILE            the setup file to write (first volume)\n"
    "  --languages FILE         language texts: [Language] sections of key=value lines\n"
    "  --update-location URL    agent list: where the auto-update agent looks for updates\n"
    "  --info-file NAME         agent list: the update information file name\n"
    "  --agent-name NAME        agent list: the agent's program file name (sets 'has agent')\n"
    "  --agent-token TEXT       agent list: the agent token (stored hidden)\n"
    "  --background             agent list: install in the background\n"
    "  --download-location URL  download list: where the setup file is fetched from\n"
    "  --download-token TEXT    download list: the download token (stored hidden)\n"
    "  --always-download        download list: download even when the file lies beside the stub\n"
    "  --confirm-download       ask before downloading\n"
    "  --download-stub FILE     also write a download stub for the setup file\n"
    "  --announce-temp-drive    tell the user which drive files are extracted to\n"
    "  --run-from-copy          the stub runs from a copy of itself\n"
    "  --activity-bar           show the activity bar while extracting\n"
    "  --agent-log              the auto-update agent writes its log\n"
    "  --volume-size SIZE       split the setup file into volumes of at most SIZE bytes\n"
    "  --split-size SIZE        pack files larger than SIZE as several entries (default 32M)\n"
    "  --level N                zlib compression level 0..9 (default 9)\n"
    "  --no-checksum            store the 'not checked' value instead of the checksum\n"
    "  --help                   show this text\n"
    "\n"
    "SIZE is a number of bytes, optionally followed by K, M or G (units of 1024).\n";

// Reads "123", "64K", "650M" or "2G".
bool ParseSize(const std::string& text, uint64_t& size) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return false;
    }
    size_t used = 0;
    unsigned long long value = 0;
    try {
        value = std::stoull(text, &used);
    } catch (const std::exception&) {
        return false;
    }
    const std::string unit = text.substr(used);
    static const std::map<std::string, int> shifts = {{"", 0},   {"K", 10}, {"k", 10}, {"M", 20},
                                                      {"m", 20}, {"G", 30}, {"g", 30}};
    const auto shift = shifts.find(unit);
    if (shift == shifts.end() || value > (UINT64_MAX >> shift->second)) {
        return false;
    }
    size = value << shift->second;
    return true;
}

class CommandLine {
public:
    explicit CommandLine(SetupOptions& options) {
        Text("--stub", options.stub);
        Text("--files", options.files);
        Text("--engine", options.engine);
        Text("--engine-params", options.engineParameters);
        Text("--output", options.output);
        Text("--languages", options.languageFile);
        Text("--update-location", options.updateLocation);
        Text("--info-file", options.infoFileName);
        Text("--agent-name", options.agentName);
        Text("--agent-token", options.agentToken);
        Text("--download-location", options.downloadLocation);
        Text("--download-token", options.downloadToken);
        Text("--download-stub", options.downloadStub);
        Size("--volume-size", options.volumeSize);
        Size("--split-size", options.splitSize);
        withValue_["--level"] = [&options](const std::string& value) {
            if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
                return false;
            }
            options.compressionLevel = value[0] - '0';
            return true;
        };
        switches_["--background"] = [&options] { options.backgroundInstall = true; };
        switches_["--always-download"] = [&options] { options.alwaysDownload = true; };
        switches_["--confirm-download"] = [&options] { options.confirmDownload = true; };
        switches_["--no-checksum"] = [&options] { options.checksum = false; };
        Flag("--announce-temp-drive", options.flags, tfAnnounceTempDrive);
        Flag("--run-from-copy", options.flags, tfRunFromCopy);
        Flag("--activity-bar", options.flags, tfShowActivityBar);
        Flag("--agent-log", options.flags, tfAgentLog);
    }

    bool Parse(const std::vector<std::string>& args, std::string& error) {
        for (size_t i = 0; i < args.size(); ++i) {
            const auto flag = switches_.find(args[i]);
            if (flag != switches_.end()) {
                flag->second();
                continue;
            }
            const auto option = withValue_.find(args[i]);
            if (option == withValue_.end()) {
                error = "unknown option " + args[i];
                return false;
            }
            if (i + 1 == args.size()) {
                error = args[i] + " needs a value";
                return false;
            }
            if (!option->second(args[++i])) {
                error = "bad value for " + args[i - 1] + ": " + args[i];
                return false;
            }
        }
        return true;
    }

private:
    void Text(const std::string& name, std::string& target) {
        withValue_[name] = [&target](const std::string& value) {
            target = value;
            return true;
        };
    }
    void Size(const std::string& name, uint64_t& target) {
        withValue_[name] = [&target](const std::string& value) { return ParseSize(value, target); };
    }
    void Flag(const std::string& name, uint8_t& flags, TrailerFlag bit) {
        switches_[name] = [&flags, bit] { flags |= bit; };
    }

    std::map<std::string, std::function<bool(const std::string&)>> withValue_;
    std::map<std::string, std::function<void()>> switches_;
};

} // namespace

int RunPackageBuilder(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] == "--help") {
        (args.empty() ? err : out) << kUsage;
        return args.empty() ? 2 : 0;
    }
    SetupOptions options;
    std::string error;
    if (!CommandLine(options).Parse(args, error) || !CheckSetupOptions(options, error)) {
        err << "PackageBuilder: " << error << "\n\n" << kUsage;
        return 2;
    }
    SetupReport report;
    if (!BuildSetup(options, report, error)) {
        err << "PackageBuilder: " << error << "\n";
        return 1;
    }
    out << report.fileCount << " files, " << report.totalSize << " bytes\n";
    for (const std::string& volume : report.volumes) {
        out << "wrote " << volume << "\n";
    }
    if (!options.downloadStub.empty()) {
        out << "wrote " << options.downloadStub << " (download stub)\n";
    }
    return 0;
}
