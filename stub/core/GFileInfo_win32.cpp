#include "stub/core/GFileInfo.h"

#include "stub/ui/Utils.h"

uint32_t TGFileInfo::SpaceNeeded(const std::string& folder) const {
    return SpaceNeededForCluster(Utils::ClusterSize(folder));
}
