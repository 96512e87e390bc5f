#include "tools/SetupBuilder.h"

#include "stub/core/PackageBlocks.h"
#include "stub/core/PackageFormat.h"
#include "stub/ui/SUB.h"
#include "tools/HiddenValueWriter.h"
#include "tools/LanguageFile.h"
#include "tools/SourceFiles.h"
#include "tools/StubHeader.h"
#include "tools/VolumeWriter.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kMaxSplitSize = 1u << 30;
constexpr uint64_t kMinSplitSize = 1024;
constexpr uint64_t kMinPartContent = 512; // smaller remainders of a volume are left empty
constexpr int kFitAttempts = 4;

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    std::ifstream in(fs::path(path), std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    bytes = content.str();
    return !in.bad();
}

// No token stays an empty field: it never matches, where a stored empty token would match
// every other package built without one.
std::string HiddenToken(const std::string& token) {
    return token.empty() ? "" : EncodeHiddenValue(token);
}

std::string AgentList(const SetupOptions& options) {
    if (options.updateLocation.empty() && options.infoFileName.empty() &&
        options.agentName.empty() && options.agentToken.empty() && !options.backgroundInstall) {
        return "";
    }
    std::string list = "|";
    list = SUB::SetField(list, 0, options.updateLocation);
    list = SUB::SetField(list, 1, options.infoFileName);
    list = SUB::SetField(list, 2, options.agentName);
    list = SUB::SetField(list, 3, HiddenToken(options.agentToken));
    return SUB::SetField(list, 4, options.backgroundInstall ? "1" : "0");
}

std::string DownloadList(const SetupOptions& options, const std::string& size) {
    std::string list = "|";
    list = SUB::SetField(list, 0, options.downloadLocation);
    list = SUB::SetField(list, 1, fs::path(options.output).filename().string());
    list = SUB::SetField(list, 2, options.alwaysDownload ? "1" : "0");
    list = SUB::SetField(list, 3, HiddenToken(options.downloadToken));
    return SUB::SetField(list, 4, size);
}

// Writes the entries of a setup over as many volumes as they need.
class SetupWriter {
public:
    SetupWriter(const SetupOptions& options, const TPackageTrailer& trailer,
                std::vector<std::string> texts, SetupReport& report)
        : options_(options), trailer_(trailer), texts_(std::move(texts)), report_(report) {}

    bool Start(const std::string& stub, bool executable, std::string& error) {
        return OpenVolume(stub, executable, error);
    }

    bool AddFile(const SourceFile& file, std::string& error) {
        std::ifstream in(file.path, std::ios::binary);
        if (!in) {
            error = "cannot read " + file.path.string();
            return false;
        }
        FileEntryHeader header{file.name, file.engine, options_.engineParameters, file.dosDateTime};
        uint64_t left = file.size;
        std::string chunk;
        do {
            chunk.resize(static_cast<size_t>(std::min(left, options_.splitSize)));
            in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            if (in.gcount() != static_cast<std::streamsize>(chunk.size())) {
                error = "cannot read " + file.path.string() + " (did it change?)";
                return false;
            }
            left -= chunk.size();
            if (!PlaceChunk(header, chunk, error)) {
                return false;
            }
            header.isEngine = false; // only the first entry of the engine carries its mark
        } while (left > 0);
        return true;
    }

    bool Finish(std::string& error) { return volume_->Finish(trailer_, options_.checksum, error); }

private:
    bool OpenVolume(const std::string& prefix, bool executable, std::string& error) {
        const int number = static_cast<int>(report_.volumes.size()) + 1;
        const std::string path =
            number == 1 ? options_.output : VolumeName(options_.output, number);
        volume_ = std::make_unique<VolumeWriter>(path, options_.volumeSize);
        report_.volumes.push_back(path);
        return volume_->Open(prefix, executable, texts_, error);
    }

    bool NextVolume(std::string& error) {
        TPackageTrailer trailer = trailer_;
        trailer.flags |= tfMultiVolume;
        return volume_->Finish(trailer, options_.checksum, error) && OpenVolume("", false, error);
    }

    // Adds one entry, splitting it across volumes when it does not fit in what is left.
    bool PlaceChunk(FileEntryHeader header, const std::string& chunk, std::string& error) {
        size_t offset = 0;
        for (;;) {
            const std::string text = MakeEntryHeader(header);
            const EncodedEntry whole = EncodeEntry(
                text, chunk.data() + offset, chunk.size() - offset, options_.compressionLevel);
            if (whole.BlockSize() <= volume_->Room()) {
                volume_->Add(whole);
                return true;
            }
            if (volume_->Room() >= 4 + text.size() + 1 + kMinPartContent) {
                size_t used = 0;
                volume_->Add(FitPart(text, chunk, offset, whole, used));
                offset += used;
                header.isEngine = false;
            } else if (volume_->Entries() == 0) {
                error = "the volume size " + std::to_string(options_.volumeSize) +
                        " leaves too little room for file entries";
                return false;
            }
            if (!NextVolume(error)) {
                return false;
            }
        }
    }

    // The longest prefix of the chunk's rest found to fit the volume: compressed when a few
    // estimates from the compression ratio find one, else stored, which fits exactly.
    EncodedEntry FitPart(const std::string& text, const std::string& chunk, size_t offset,
                         const EncodedEntry& whole, size_t& used) {
        const uint64_t budget = volume_->Room() - 4;
        const size_t rest = chunk.size() - offset;
        const size_t stored = static_cast<size_t>(budget - text.size() - 1);
        double ratio = static_cast<double>(whole.bytes.size()) / (text.size() + 1 + rest);
        for (int attempt = 0; attempt < kFitAttempts; ++attempt) {
            const double estimate = 0.97 * budget / ratio - static_cast<double>(text.size() + 1);
            if (estimate <= static_cast<double>(stored) || estimate >= static_cast<double>(rest)) {
                break;
            }
            const auto guess = static_cast<size_t>(estimate);
            EncodedEntry part =
                EncodeEntry(text, chunk.data() + offset, guess, options_.compressionLevel);
            if (part.bytes.size() <= budget) {
                used = guess;
                return part;
            }
            ratio = static_cast<double>(part.bytes.size()) / (text.size() + 1 + guess);
        }
        used = stored;
        EncodedEntry part;
        part.bytes = text + '\0' + chunk.substr(offset, stored);
        part.length = -static_cast<int32_t>(part.bytes.size());
        return part;
    }

    const SetupOptions& options_;
    TPackageTrailer trailer_;
    std::vector<std::string> texts_;
    SetupReport& report_;
    std::unique_ptr<VolumeWriter> volume_;
};

bool WriteDownloadStub(const SetupOptions& options, const std::string& stub, bool executable,
                       const std::vector<std::string>& texts, TPackageTrailer trailer,
                       std::string& error) {
    std::error_code failure;
    const uint64_t size = fs::file_size(fs::path(options.output), failure);
    if (failure) {
        error = "cannot measure " + options.output;
        return false;
    }
    std::vector<std::string> stubTexts = texts;
    stubTexts[2] = DownloadList(options, std::to_string(size));
    trailer.downloadStub = 1;
    trailer.fileCount = 0;
    VolumeWriter writer(options.downloadStub, 0);
    return writer.Open(stub, executable, stubTexts, error) &&
           writer.Finish(trailer, options.checksum, error);
}

} // namespace

bool CheckSetupOptions(const SetupOptions& options, std::string& error) {
    if (options.stub.empty() || options.files.empty() || options.engine.empty() ||
        options.output.empty()) {
        error = "the stub, the files folder, the setup engine and the output are required";
    } else if (options.splitSize < kMinSplitSize || options.splitSize > kMaxSplitSize) {
        error = "the split size must lie between 1 KiB and 1 GiB";
    } else if (!options.downloadStub.empty() && options.downloadLocation.empty()) {
        error = "a download stub needs a download location";
    } else if (!options.downloadStub.empty() && options.volumeSize != 0) {
        error = "a download stub serves a single-volume setup file only";
    } else if (!options.downloadStub.empty() && options.downloadToken.empty()) {
        error = "a download stub needs a download token to recognise its setup file";
    } else if (options.compressionLevel < 0 || options.compressionLevel > 9) {
        error = "the compression level must lie between 0 and 9";
    } else {
        return true;
    }
    return false;
}

std::string VolumeName(const std::string& first, int number) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%03d", number);
    return first + suffix;
}

bool BuildSetup(const SetupOptions& options, SetupReport& report, std::string& error) {
    report = SetupReport{};
    if (!CheckSetupOptions(options, error)) {
        return false;
    }
    std::string stub;
    bool executable = false;
    if (!ReadWholeFile(options.stub, stub)) {
        error = "cannot read the stub " + options.stub;
        return false;
    }
    if (!PlaceStubHeader(stub, executable, error)) {
        return false;
    }
    std::vector<SourceFile> files;
    if (!CollectFiles(options, files, error)) {
        return false;
    }
    std::vector<std::string> texts(2);
    if (!options.languageFile.empty()) {
        std::string languages;
        if (!ReadWholeFile(options.languageFile, languages)) {
            error = "cannot read the language file " + options.languageFile;
            return false;
        }
        if (!BuildLanguageBlock(languages, texts[0], error)) {
            error = options.languageFile + ": " + error;
            return false;
        }
    }
    texts[1] = AgentList(options);
    if (!options.downloadLocation.empty()) {
        texts.push_back(DownloadList(options, ""));
    }

    TPackageTrailer trailer;
    trailer.version = 1;
    trailer.blockCount = static_cast<uint8_t>(texts.size());
    trailer.fileCount = static_cast<uint32_t>(files.size());
    trailer.magic = kPackageMagic;
    trailer.space = SpaceTable(files);
    trailer.flags = options.flags & ~tfMultiVolume;
    trailer.confirmDownload = options.confirmDownload ? 1 : 0;
    trailer.hasAgent = options.agentName.empty() ? 0 : 1;

    SetupWriter writer(options, trailer, texts, report);
    if (!writer.Start(stub, executable, error)) {
        return false;
    }
    for (const SourceFile& file : files) {
        if (!writer.AddFile(file, error)) {
            return false;
        }
        report.totalSize += file.size;
    }
    report.fileCount = trailer.fileCount;
    if (!writer.Finish(error)) {
        return false;
    }
    return options.downloadStub.empty() ||
           WriteDownloadStub(options, stub, executable, texts, trailer, error);
}
