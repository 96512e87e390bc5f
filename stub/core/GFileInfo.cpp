#include "stub/core/GFileInfo.h"

#include "stub/core/HiddenValue.h"
#include "stub/core/PackageBlocks.h"
#include "stub/ui/SUB.h"

namespace {

enum DownloadField { dfLocation, dfSetupFile, dfAlways, dfToken, dfSize };
enum AgentField { afUpdateLocation, afInfoFile, afAgentName, afToken, afBackground };

constexpr int kSmallestCluster = 512;

std::string FilePart(const std::string& path) {
    const size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Token(const std::string& stored, bool decode) {
    return decode ? DecodeHiddenValue(stored) : stored;
}

} // namespace

TGFileInfo::TGFileInfo(const std::string& fileName) {
    const std::unique_ptr<ByteSource> file = OpenSharedFile(fileName);
    if (file) {
        Read(*file);
    }
}

TGFileInfo::TGFileInfo(ByteSource& file) {
    Read(file);
}

void TGFileInfo::Read(ByteSource& file) {
    const TrailerLocation location = ReadTrailer(file);
    trailer_ = location.trailer;
    if (!location.trailer.HasMagic()) {
        return;
    }
    // A data start beyond the trailer cannot belong to a sound package: treat it as none.
    if (trailer_.dataStart > location.trailerStart) {
        trailer_ = TPackageTrailer{};
        return;
    }
    PackageBlockReader blocks(file, trailer_.dataStart, location.trailerStart);
    std::string* texts[] = {&languages_, &agentList_, &downloadList_};
    const int count = trailer_.blockCount > 2 ? 3 : 2;
    PackageBlock block;
    for (int i = 0; i < count && blocks.Next(block); ++i) {
        *texts[i] = std::move(block.bytes);
    }
}

uint32_t TGFileInfo::SpaceNeededForCluster(uint32_t clusterSize) const {
    int entry = 0;
    for (int i = 1; i < kSpaceTableSize; ++i) {
        if (static_cast<uint32_t>(kSmallestCluster << (i - 1)) <= clusterSize) {
            entry = i;
        }
    }
    return trailer_.space[entry];
}

std::string TGFileInfo::DownloadLocation() const {
    return SUB::GetField(downloadList_, dfLocation, "");
}

std::string TGFileInfo::SetupFileName() const {
    return SUB::GetField(downloadList_, dfSetupFile, "");
}

std::string TGFileInfo::SetupFileSize() const {
    return SUB::GetField(downloadList_, dfSize, "");
}

bool TGFileInfo::AlwaysDownload() const {
    return SUB::GetField(downloadList_, dfAlways, "") == "1";
}

std::string TGFileInfo::DownloadToken(bool decode) const {
    return Token(SUB::GetField(downloadList_, dfToken, ""), decode);
}

std::string TGFileInfo::UpdateLocation() const {
    return SUB::GetField(agentList_, afUpdateLocation, "");
}

std::string TGFileInfo::AgentName() const {
    return SUB::GetField(agentList_, afAgentName, "");
}

std::string TGFileInfo::AgentToken(bool decode) const {
    return Token(SUB::GetField(agentList_, afToken, ""), decode);
}

std::string TGFileInfo::InfoFileName() const {
    return FilePart(SUB::GetField(agentList_, afInfoFile, ""));
}

std::string TGFileInfo::OriginalFileName() const {
    std::string name = InfoFileName();
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    return name + ".original";
}

bool TGFileInfo::BackgroundInstall() const {
    return SUB::GetField(agentList_, afBackground, "") == "1";
}

bool TGFileInfo::SameDownloadToken(const TGFileInfo& other) const {
    std::string mine;
    std::string theirs;
    return TryDecodeHiddenValue(DownloadToken(false), mine) &&
           TryDecodeHiddenValue(other.DownloadToken(false), theirs) && mine == theirs;
}
