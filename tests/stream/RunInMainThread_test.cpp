#include "generator/stream/MMDSPObj.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class HandingOverThread : public TMMDSPThread {
public:
    DWORD ranOn = 0;
    bool caught = false;

protected:
    void Execute() override {
        RunInMainThread([this] { ranOn = GetCurrentThreadId(); });
        try {
            RunInMainThread([] { throw std::runtime_error("from the main thread"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
    }
};

TEST(RunInMainThread, DeviceThreadsHandOverAndSeeExceptions) {
    HandingOverThread thread;
    ASSERT_TRUE(thread.Start(tpHigher));
    thread.TerminateAndWait();
    EXPECT_EQ(thread.ranOn, GetCurrentThreadId());
    EXPECT_TRUE(thread.caught);
}

DWORD WINAPI PlainThread(void* result) {
    RunInMainThread([result] { *static_cast<DWORD*>(result) = GetCurrentThreadId(); });
    return 0;
}

TEST(RunInMainThread, OtherThreadsRunTheProcedureThemselves) {
    DWORD ranOn = 0;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, PlainThread, &ranOn, 0, &id);
    ASSERT_TRUE(thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(ranOn, id);
    EXPECT_FALSE(IsDeviceThread());
}

} // namespace
