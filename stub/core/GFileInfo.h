#pragma once

#include "stub/core/ByteSource.h"
#include "stub/core/PackageFormat.h"

#include <cstdint>
#include <string>

// The package information of one setup file: its trailer and the three leading text blocks.
// Built once from a file and then only queried. Whatever is missing or damaged reads as absent:
// an all-zero record (every flag clear) and empty lists.
class TGFileInfo {
public:
    explicit TGFileInfo(const std::string& fileName);
    explicit TGFileInfo(ByteSource& file);

    const TPackageTrailer& Trailer() const { return trailer_; }
    const std::string& LanguageBlock() const { return languages_; }
    const std::string& AgentList() const { return agentList_; }
    const std::string& DownloadList() const { return downloadList_; }

    // Space table entry for a drive with this cluster size (0 when it is unknown).
    uint32_t SpaceNeededForCluster(uint32_t clusterSize) const;
#ifdef _WIN32
    // Space table entry for the drive of `folder`.
    uint32_t SpaceNeeded(const std::string& folder) const;
#endif

    bool AnnounceTempDrive() const {
        return Flag(tfAnnounceTempDrive);
    }
    bool MultiVolume() const {
        return Flag(tfMultiVolume);
    }
    bool RunFromCopy() const {
        return Flag(tfRunFromCopy);
    }
    bool ShowActivityBar() const {
        return Flag(tfShowActivityBar);
    }
    bool AgentLogEnabled() const {
        return Flag(tfAgentLog);
    }

    bool IsDownloadStub() const {
        return trailer_.downloadStub == 1;
    }
    bool ConfirmDownload() const {
        return trailer_.confirmDownload == 1;
    }
    bool HasAgent() const {
        return trailer_.hasAgent == 1;
    }
    bool IsAgent() const {
        return trailer_.isAgent == 1;
    }

    std::string DownloadLocation() const;
    std::string SetupFileName() const;
    std::string SetupFileSize() const;
    bool AlwaysDownload() const;
    std::string DownloadToken(bool decode) const;

    std::string UpdateLocation() const;
    std::string AgentName() const;
    std::string AgentToken(bool decode) const;
    std::string InfoFileName() const;
    std::string OriginalFileName() const;
    bool BackgroundInstall() const;

    // True when both files carry download tokens that decode, and they are equal. A token that
    // does not decode never matches, not even another one that does not.
    bool SameDownloadToken(const TGFileInfo& other) const;

private:
    void Read(ByteSource& file);
    bool Flag(TrailerFlag flag) const {
        return (trailer_.flags & flag) != 0;
    }

    TPackageTrailer trailer_;
    std::string languages_;
    std::string agentList_;
    std::string downloadList_;
};
