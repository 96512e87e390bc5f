// The output device against the virtual driver: properties, every failure message, and the
// playback, drain, deferred stop and close, and dispatch paths in each callback mode and
// notification route.
#include "tests/devices/WaveOutFixture.h"

#include <vector>

namespace {

using Events = std::vector<std::string>;

// --- properties -------------------------------------------------------------------------------

using WaveOutProperties = WaveOutFixture;

TEST_F(WaveOutProperties, ClampAndIgnoreOutOfRangeValues) {
    Build(kWindowsXP);
    device_->SetNumBuffers(1);
    EXPECT_EQ(device_->NumBuffers(), 10);
    device_->SetNumBuffers(1000);
    EXPECT_EQ(device_->NumBuffers(), 500);
    device_->SetBufferSize(10);
    EXPECT_EQ(device_->BufferSize(), 32);
}

TEST_F(WaveOutProperties, DeviceIdChoosesTheProductName) {
    Build(kWindowsXP);
    EXPECT_EQ(device_->ProductName(), "Virtual Out 0");
    EXPECT_EQ(device_->DriverVersion(), 0x0105u);
    device_->SetDeviceID(TMMWaveOut::MapperId);
    EXPECT_EQ(device_->ProductName(), "Virtual Mapper");
    device_->SetDeviceID(5);
    EXPECT_EQ(device_->DeviceID(), TMMWaveOut::InvalidId);
    EXPECT_EQ(device_->ProductName(), "No wave audio playing device found");
    EXPECT_EQ(device_->DriverVersion(), 0u);
    EXPECT_EQ(MessageOf([&] { device_->StartDevice(); }), "Invalid DeviceID");
    EXPECT_EQ(device_->DeviceState(), TMMDeviceState(dsClosed));

    EXPECT_EQ(device_->DeviceName(1), "Virtual Out 1");
    EXPECT_EQ(device_->DeviceName(2), "");
    EXPECT_EQ(device_->DeviceName(-2), "");
    driver_.Fail(woGetDevCaps, MMSYSERR_NODRIVER);
    EXPECT_EQ(device_->DeviceName(0), "");
}

TEST_F(WaveOutProperties, MappedAddsTheMapperFlagOnlyForARealDeviceId) {
    struct Case {
        bool mapped;
        int id;
        bool flag;
    };
    const Case cases[] = {{false, 0, false}, {true, 0, true}, {true, TMMWaveOut::MapperId, false}};
    Build(kWindowsXP);
    for (const Case& c : cases) {
        device_->SetMapped(c.mapped);
        device_->SetDeviceID(c.id);
        device_->OpenDevice();
        EXPECT_EQ((driver_.LastOpenFlags() & WAVE_MAPPED) != 0, c.flag) << c.mapped << c.id;
        device_->CloseDevice();
    }
}

TEST_F(WaveOutProperties, ChangesThatNeedAClosedDeviceAreRefusedWhileOpen) {
    Build(kWindowsXP);
    device_->OpenDevice();
    const std::function<void()> changes[] = {
        [&] { device_->SetDeviceID(1); },
        [&] { device_->SetCallBackMode(cmThread); },
        [&] { device_->SetNumBuffers(4); },
        [&] { device_->SetBufferSize(4096); },
    };
    for (const auto& change : changes) {
        EXPECT_EQ(MessageOf(change), "Change to property while device was open");
    }
    EXPECT_EQ(events_.Count("Error"), 4);
    EXPECT_EQ(MessageOf([&] { device_->SetNumBuffers(10); }), "") << "unchanged values pass";
    EXPECT_EQ(device_->DeviceID(), 0);
    EXPECT_EQ(device_->CallBackMode(), cmWindow);
}

TEST_F(WaveOutProperties, CallBackModeIsRefusedWithTheBoxOutsideWindows95) {
    Build(kWindowsXP);
    device_->SetCallBackMode(cmCallback);
    EXPECT_EQ(device_->CallBackMode(), cmWindow);
    EXPECT_EQ(boxes_.Entries(),
              Events{"TMMWaveOut: \"CallBacks\" are called at interrupt time !\n\rThis is "
                     "currently only supported under Windows 95"});
}

TEST_F(WaveOutProperties, OpenNeedsADeviceAndAFormat) {
    driver_.numDevs = 0;
    Build(kWindowsXP);
    EXPECT_EQ(device_->ProductName(), "No wave audio playing device found");
    EXPECT_EQ(MessageOf([&] { device_->OpenDevice(); }), "No wave audio playing device found");

    driver_.numDevs = 2;
    TMMWaveOut unlinked;
    EXPECT_EQ(MessageOf([&] { unlinked.OpenDevice(); }), "WaveOutOpen:\n\rInvalid wave format");
}

// --- failures -----------------------------------------------------------------------------------

struct FailureCase;
void PrintTo(const FailureCase& c, std::ostream* os);

struct FailureCase {
    const char* name;
    TWaveOutCall call; // woGetNumDevs: no driver failure
    MMRESULT code;
    int successes;
    std::function<void(TVirtualWaveOut&, TSineSource&)> script;
    const char* message;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class WaveOutFailures : public WaveOutFixture, public ::testing::WithParamInterface<FailureCase> {};

// Every failing start reports its message once through OnError and the exception, and leaves
// the device and the driver closed with every buffer back in the pool.
TEST_P(WaveOutFailures, StartFailsWithItsMessageAndLeavesTheDeviceClosed) {
    const FailureCase& c = GetParam();
    Build(kWindowsXP);
    if (c.call != woGetNumDevs) {
        driver_.Fail(c.call, c.code, c.successes);
    }
    if (c.script) {
        c.script(driver_, *source_);
    }
    EXPECT_EQ(MessageOf([&] { device_->StartDevice(); }), c.message);
    EXPECT_EQ(events_.Count("Error"), 1);
    EXPECT_EQ(device_->DeviceState(), TMMDeviceState(dsClosed));
    EXPECT_FALSE(driver_.IsOpen());
    EXPECT_EQ(device_->BuffersInUse(), 0);
    EXPECT_FALSE(source_->Opened());
    EXPECT_FALSE(sink_->Opened());
}

INSTANTIATE_TEST_SUITE_P(
    Table, WaveOutFailures,
    ::testing::Values(
        FailureCase{"FormatNotPlayable", woQuery, WAVERR_BADFORMAT, 0, nullptr,
                    "WaveOutOpen:\n\rThe actual device can''t play this format"},
        FailureCase{"OpenFails", woOpen, MMSYSERR_ALLOCATED, 0, nullptr,
                    "WaveOutOpen:\n\rvirtual error 4"},
        FailureCase{"NoOpenNotification", woGetNumDevs, 0, 0,
                    [](TVirtualWaveOut& d, TSineSource&) { d.sendOpenNotification = false; },
                    "WaveOutOpen:\n\rUnable to open device"},
        FailureCase{"PauseFails", woPause, MMSYSERR_NOMEM, 0, nullptr,
                    "WaveOutPause:\n\rvirtual error 7"},
        FailureCase{"PrepareFails", woPrepareHeader, MMSYSERR_NOMEM, 2, nullptr,
                    "WaveOutPrepareHeader:\n\rvirtual error 7"},
        FailureCase{"WriteFails", woWrite, MMSYSERR_INVALHANDLE, 3, nullptr,
                    "WaveOutWrite:\n\rvirtual error 5"},
        FailureCase{"ErrorWithoutText", woWrite, TVirtualWaveOut::kTextlessError, 0, nullptr,
                    "WaveOutWrite:\n\rSpecified error number is out of range (unknown error)"},
        FailureCase{"RestartFails", woRestart, MMSYSERR_ERROR, 0, nullptr,
                    "WaveOutRestart:\n\rvirtual error 1"},
        FailureCase{"SourceDeliversNothing", woGetNumDevs, 0, 0,
                    [](TVirtualWaveOut&, TSineSource& s) { s.BuffersLeft = 0; },
                    "WaveOutStart:\n\rUnable to start device"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(WaveOutProperties, AFailedStopRaisesAndTheNextCloseFinishesTheJob) {
    Build(kWindowsXP);
    driver_.msPerBuffer = 0;
    device_->StartDevice();
    driver_.Fail(woReset, MMSYSERR_ERROR);
    EXPECT_EQ(MessageOf([&] { device_->StopDevice(); }), "WaveOutReset:\n\rvirtual error 1");
    // The stop's own close had to stop first and failed the same way: the buffers are still
    // in the driver, so the device stays open rather than freeing memory the driver holds.
    EXPECT_TRUE(device_->DeviceState() & dsOpen);
    EXPECT_EQ(events_.Count("Close"), 0);

    driver_.Heal(woReset);
    device_->CloseDevice();
    EXPECT_EQ(events_.Count("Stop"), 1);
    EXPECT_EQ(events_.Count("Close"), 1);
    EXPECT_FALSE(driver_.IsOpen());
    EXPECT_EQ(device_->BuffersInUse(), 0);
}

TEST_F(WaveOutProperties, CloseFailuresAreReportedButNeverRaised) {
    Build(kWindowsXP);
    device_->OpenDevice();
    driver_.Fail(woClose, MMSYSERR_ERROR);
    EXPECT_NO_THROW(device_->CloseDevice());
    EXPECT_EQ(events_.Entries(), (Events{"Open", "Error"}));
    EXPECT_TRUE(device_->DeviceState() & dsOpen) << "a failed close may be tried again";

    driver_.Fail(woClose, MMSYSERR_ERROR, 1);
    driver_.sendCloseNotification = false;
    EXPECT_NO_THROW(device_->CloseDevice());
    EXPECT_EQ(events_.Entries(), (Events{"Open", "Error", "Close", "Error"}));
    EXPECT_FALSE(driver_.IsOpen());
}

TEST_F(WaveOutProperties, PlayPositionInEveryTimeFormat) {
    for (bool bytesOnly : {false, true}) {
        SCOPED_TRACE(bytesOnly ? "driver answers in bytes" : "driver answers in samples");
        Build(kWindowsXP);
        driver_.msPerBuffer = 0;
        driver_.positionInBytesOnly = bytesOnly;
        EXPECT_EQ(device_->PlayPosition(), 0) << "closed";
        device_->StartDevice();
        driver_.Complete(3); // 3 × 2048 bytes of 16-bit stereo = 1536 samples
        ASSERT_TRUE(PumpUntil([&] { return sink_->Buffers >= 3; }, 5000));
        device_->SetTimeFormat(tfSample);
        EXPECT_EQ(device_->PlayPosition(), 1536);
        device_->SetTimeFormat(tfByte);
        EXPECT_EQ(device_->PlayPosition(), 6144);
        device_->SetTimeFormat(tfMillisecond);
        EXPECT_EQ(device_->PlayPosition(), 34);
        driver_.Fail(woGetPosition, MMSYSERR_ERROR);
        EXPECT_EQ(MessageOf([&] { device_->PlayPosition(); }),
                  "WaveOutGetPosition:\n\rvirtual error 1");
        driver_.Heal(woGetPosition);
        device_->CloseDevice();
    }
}

// --- playback in every mode ----------------------------------------------------------------

struct ModeCase {
    const char* name;
    TMMCBMode mode;
    TOSVersion system;
};

void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << c.name;
}

class WaveOutModes : public WaveOutFixture, public ::testing::WithParamInterface<ModeCase> {
protected:
    void SetUp() override {
        WaveOutFixture::SetUp();
        Build(GetParam().system, GetParam().mode);
        ASSERT_EQ(device_->CallBackMode(), GetParam().mode);
    }
    bool ServicedOnMainThread() const {
        return GetParam().mode == cmWindow || NotifyRouteFor(GetParam().system) == nrWindow;
    }
    void ExpectCleanlyClosed() {
        EXPECT_EQ(device_->DeviceState(), TMMDeviceState(dsClosed));
        EXPECT_FALSE(driver_.IsOpen());
        EXPECT_EQ(device_->BuffersInUse(), 0);
        EXPECT_FALSE(source_->Opened());
        EXPECT_FALSE(sink_->Opened());
    }
};

TEST_P(WaveOutModes, PlaysEveryBufferOnceThenStopsAndClosesInOrder) {
    std::atomic<int> badHeaders{0};
    sink_->Each = [&](PWaveHdr header) {
        TMMBufferRecord* record = BufferRecordOf(header);
        if (header->dwBytesRecorded != 2048 || !record->lpNextQueued ||
            record->lpNextQueued == record) {
            ++badHeaders;
        }
    };
    device_->StartDevice();
    EXPECT_TRUE(source_->Started());
    EXPECT_TRUE(sink_->Started());
    const int writes = driver_.Calls(woWrite);
    EXPECT_EQ(writes, 10) << "the whole queue is filled before playback starts";
    device_->StartDevice();
    EXPECT_EQ(events_.Count("Start"), 1) << "a started device ignores another start";

    ASSERT_TRUE(PumpUntil([&] { return sink_->Buffers >= 40; }, 10000));
    EXPECT_EQ(sink_->LastThread == GetCurrentThreadId(), ServicedOnMainThread());
    device_->CloseDevice();
    device_->CloseDevice();
    EXPECT_EQ(events_.Entries(), (Events{"Open", "Start", "Stop", "Close"}));
    EXPECT_EQ(badHeaders, 0);
    // Every buffer the source filled was played and passed on, except those the stop took
    // back from the device.
    EXPECT_GE(source_->Loads, sink_->Buffers);
    EXPECT_LE(source_->Loads - sink_->Buffers, 10);
    ExpectCleanlyClosed();
}

TEST_P(WaveOutModes, AStreamThatEndsDrainsAndStopsByItself) {
    source_->BuffersLeft = 3;
    device_->StartDevice();
    ASSERT_TRUE(PumpUntilEvent("Stop"));
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(events_.Entries(), (Events{"Open", "Start", "Stop"}));
    EXPECT_EQ(sink_->Buffers, 3);
    EXPECT_EQ(driver_.Calls(woWrite), 3);
    EXPECT_TRUE(device_->DeviceState() & dsOpen);
    EXPECT_FALSE(device_->DeviceState() & dsActive);
    EXPECT_EQ(device_->BuffersInUse(), 0);

    source_->BuffersLeft = 2;
    device_->StartDevice();
    ASSERT_TRUE(PumpUntilEvent("Stop", 2));
    EXPECT_EQ(sink_->Buffers, 5) << "the device plays again after a drained run";
}

// A stop or close asked for from inside the chain's servicing code is deferred until the done
// handler ends and completed on the main thread.
TEST_P(WaveOutModes, StopAndCloseFromInsideTheHandlerAreDeferred) {
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "stop");
        std::atomic<int> seen{0};
        sink_->Each = [&](PWaveHdr) {
            if (++seen == 5) {
                close ? device_->CloseDevice() : device_->StopDevice();
            }
        };
        device_->StartDevice();
        ASSERT_TRUE(PumpUntilEvent(close ? "Close" : "Stop"));
        sink_->Each = nullptr;
        EXPECT_FALSE(device_->DeviceState() & dsActive);
        EXPECT_EQ(device_->BuffersInUse(), 0);
    }
    EXPECT_EQ(events_.Entries(), (Events{"Open", "Start", "Stop", "Start", "Stop", "Close"}));
    ExpectCleanlyClosed();
}

// A close from the main thread while a done handler runs on another thread waits for that
// handler instead of freeing its buffers under it, and completes before it returns.
class WaveOutServicedElsewhere : public WaveOutModes {};

TEST_P(WaveOutServicedElsewhere, CloseWaitsForAHandlerRunningOnAnotherThread) {
    ASSERT_FALSE(ServicedOnMainThread());
    std::atomic<int> seen{0};
    std::atomic<bool> inside{false};
    std::atomic<bool> left{false};
    sink_->Each = [&](PWaveHdr) {
        if (++seen == 5) {
            inside = true;
            Sleep(200);
            left = true;
        }
    };
    device_->StartDevice();
    ASSERT_TRUE(PumpUntil([&] { return inside.load(); }, 5000));
    device_->CloseDevice();
    EXPECT_TRUE(left);
    EXPECT_EQ(events_.Entries(), (Events{"Open", "Start", "Stop", "Close"}));
    ExpectCleanlyClosed();
}

TEST_P(WaveOutModes, AFormatChangeFromUpstreamWhilePlayingClosesTheDevice) {
    device_->StartDevice();
    ASSERT_TRUE(PumpUntil([&] { return sink_->Buffers >= 5; }, 5000));
    source_->ChangeRate(22050);
    EXPECT_EQ(events_.Entries(), (Events{"Open", "Start", "Stop", "Close"}));
    EXPECT_EQ(device_->WaveFormat()->nSamplesPerSec, 22050u);
    EXPECT_EQ(sink_->WaveFormat()->nSamplesPerSec, 22050u);
    ExpectCleanlyClosed();
}

TEST_P(WaveOutModes, PauseHoldsPlaybackAndRestartResumesIt) {
    device_->StartDevice();
    ASSERT_TRUE(PumpUntil([&] { return sink_->Buffers >= 5; }, 5000));
    device_->PauseDevice();
    EXPECT_TRUE(driver_.IsPaused());
    EXPECT_TRUE(source_->Paused());
    PumpUntil([] { return false; }, 30);
    const int held = sink_->Buffers;
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(sink_->Buffers, held);
    device_->RestartDevice();
    EXPECT_FALSE(driver_.IsPaused());
    ASSERT_TRUE(PumpUntil([&] { return sink_->Buffers >= held + 10; }, 5000));
    device_->CloseDevice();
    EXPECT_EQ(events_.Entries(), (Events{"Open", "Start", "Pause", "Restart", "Stop", "Close"}));
}

TEST_P(WaveOutModes, ResetRebuildsTheQueueFromTheChain) {
    device_->StartDevice();
    ASSERT_TRUE(PumpUntil([&] { return sink_->Buffers >= 5; }, 5000));
    const int writes = driver_.Calls(woWrite);
    device_->ResetDevice();
    EXPECT_GE(driver_.Calls(woWrite), writes + 10);
    const int after = sink_->Buffers;
    ASSERT_TRUE(PumpUntil([&] { return sink_->Buffers >= after + 20; }, 5000));
    device_->CloseDevice();
    ExpectCleanlyClosed();
}

// Failures inside the servicing code close the device and reach the application's handler.
TEST_P(WaveOutModes, FailuresWhileServicingCloseTheDeviceAndAreShown) {
    struct Failure {
        std::function<void(TSineSource&)> script;
        const char* message;
    };
    const Failure failures[] = {
        {[](TSineSource& s) { s.ThrowAfter = 15; }, "source failed"},
        {[](TSineSource& s) { s.ThrowAfter = -1, s.DeliverNothing = true; },
         "Error filling wave buffer"},
    };
    int round = 0;
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.message);
        ++round;
        device_->StartDevice();
        ASSERT_TRUE(PumpUntil([&] { return sink_->Buffers >= 2; }, 5000));
        failure.script(*source_);
        ASSERT_TRUE(PumpUntil([&] { return shown_.Entries().size() >= size_t(round); }, 10000));
        ASSERT_TRUE(PumpUntilEvent("Close", round));
        EXPECT_EQ(shown_.Entries().back(), failure.message);
        EXPECT_EQ(events_.Count("Error"), round);
        source_->DeliverNothing = false;
        source_->Loads = 0;
        ExpectCleanlyClosed();
    }
}

TEST_P(WaveOutModes, LoopingTellsTheChainAndFiresOnLooping) {
    device_->SetLooping(true);
    device_->SetLoopCount(3);
    std::atomic<int> badLoopFields{0};
    source_->OnBufferLoad = [&](TComponent*, PWaveHdr header, bool&) {
        TMMBufferRecord* record = BufferRecordOf(header);
        if (record->dwLooping != -1 || record->dwLoopCount != 3) {
            ++badLoopFields;
        }
        if (source_->Loads == 12) {
            record->dwLoopRestart = -1;
            --record->dwLoopsLeft;
        }
    };
    device_->StartDevice();
    ASSERT_TRUE(PumpUntilEvent("Looping"));
    ASSERT_TRUE(PumpUntil([&] { return sink_->Buffers >= 30; }, 5000));
    device_->CloseDevice();
    EXPECT_EQ(events_.Count("Looping"), 1);
    EXPECT_EQ(badLoopFields, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Routes, WaveOutModes,
    ::testing::Values(ModeCase{"WindowViaCallbackFunction", cmWindow, kWindowsXP},
                      ModeCase{"WindowViaWindowMessages", cmWindow, kWindowsVista},
                      ModeCase{"ThreadViaCallbackFunction", cmThread, kWindowsXP},
                      ModeCase{"ThreadViaWindowMessages", cmThread, kWindowsVista},
                      ModeCase{"CallbackOnWindows95", cmCallback, kWindows95}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Routes, WaveOutServicedElsewhere,
    ::testing::Values(ModeCase{"ThreadViaCallbackFunction", cmThread, kWindowsXP},
                      ModeCase{"CallbackOnWindows95", cmCallback, kWindows95}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return info.param.name; });

} // namespace
