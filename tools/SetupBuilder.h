#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What goes into a setup file. Paths are native paths of the machine the builder runs on.
struct SetupOptions {
    std::string stub;             // the stub program
    std::string files;            // folder whose files (and subfolders) are packed
    std::string engine;           // file name of the setup engine, relative to `files`
    std::string engineParameters; // the engine's own command-line parameters
    std::string output;           // the setup file (first volume)
    std::string languageFile;     // optional language text file

    // Agent list.
    std::string updateLocation;
    std::string infoFileName;
    std::string agentName;
    std::string agentToken;
    bool backgroundInstall = false;

    // Download list (written when `downloadLocation` is set) and the download stub.
    std::string downloadLocation;
    std::string downloadToken;
    bool alwaysDownload = false;
    bool confirmDownload = false;
    std::string downloadStub; // optional: also write a download stub for the setup file

    uint8_t flags = 0;       // TrailerFlag bits; the multi-volume bit is set by the builder
    uint64_t volumeSize = 0; // 0: one volume of any size
    uint64_t splitSize = 32u << 20;
    bool checksum = true; // false: store the "not checked" value
    int compressionLevel = 9;
};

struct SetupReport {
    std::vector<std::string> volumes; // paths written, in order
    uint32_t fileCount = 0;
    uint64_t totalSize = 0; // plain size of the files
};

// False with a message when the options contradict each other or lack a required value.
bool CheckSetupOptions(const SetupOptions& options, std::string& error);

// Builds the setup file (and its further volumes and download stub). Returns false with a
// message on any failure; files written before the failure are left behind.
bool BuildSetup(const SetupOptions& options, SetupReport& report, std::string& error);

// The name of volume `number` (from 2) of a setup file: "setup.exe.002".
std::string VolumeName(const std::string& first, int number);
