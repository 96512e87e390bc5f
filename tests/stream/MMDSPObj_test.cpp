#include "generator/stream/MMDSPObj.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

// A plain chain stage that remembers how often it was stopped.
class Stage : public TMMDSPComponent {
public:
    using TMMDSPComponent::TMMDSPComponent;
    void Stop() override {
        ++stops;
        TMMDSPComponent::Stop();
    }
    int stops = 0;
};

class Device : public TMMCustomSoundComponent {
public:
    using TMMCustomSoundComponent::TMMCustomSoundComponent;
    void SetNumBuffers(int) override {}
    int NumBuffers() const override { return 0; }
    void SetDeviceID(int) override {}
    int DeviceID() const override { return MapperId; }
    void SetProductName(const std::string&) override {}
    std::string ProductName() const override { return {}; }
    void SetCallBackMode(int) override {}
    int CallBackMode() const override { return 0; }
};

// Like the input device: a source without an upstream side.
class SourceDevice : public Device {
public:
    using Device::Device;
    bool HasInputSide() const override { return false; }
};

WAVEFORMATEX Format(int bits, int channels, uint32_t rate) {
    WAVEFORMATEX format{};
    BuildPCMFormat(format, bits, channels, rate);
    return format;
}

bool SameFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
    if (!a || !b) {
        return a == b;
    }
    return std::memcmp(a, b, kWaveFormatSize) == 0;
}

void Chain(std::initializer_list<TMMDSPComponent*> components) {
    TMMDSPComponent* previous = nullptr;
    for (TMMDSPComponent* c : components) {
        if (previous) {
            c->SetInput(previous);
        }
        previous = c;
    }
}

TEST(ChainLinks, RefusesLoopsWithoutSideEffects) {
    Stage a, b, c;
    Chain({&a, &b, &c});
    const WAVEFORMATEX cd = Format(16, 2, 44100);
    a.SetWaveFormat(&cd);
    a.Open();
    a.Start();
    a.stops = 0;

    a.SetInput(&a);
    a.SetInput(&c); // c lies downstream of a
    b.SetOutput(&a);
    EXPECT_EQ(a.Input(), nullptr);
    EXPECT_EQ(a.Output(), &b);
    EXPECT_EQ(b.Output(), &c);
    EXPECT_EQ(a.stops, 0);
    EXPECT_TRUE(a.Started());
}

TEST(ChainLinks, RepointingUnlinksPreviousPartners) {
    Stage a, b, c;
    Chain({&a, &b});
    c.SetInput(&a);
    EXPECT_EQ(a.Output(), &c);
    EXPECT_EQ(c.Input(), &a);
    EXPECT_EQ(b.Input(), nullptr);

    // The mirror: b takes c as its Output, so a loses c.
    b.SetOutput(&c);
    EXPECT_EQ(b.Output(), &c);
    EXPECT_EQ(c.Input(), &b);
    EXPECT_EQ(a.Output(), nullptr);
}

TEST(ChainLinks, ASourceWithoutInputSideCannotBeAnOutput) {
    Stage a;
    SourceDevice source;
    a.SetOutput(&source);
    EXPECT_EQ(a.Output(), nullptr);
    source.SetOutput(&a);
    EXPECT_EQ(a.Input(), &source);
}

TEST(ChainFormats, FormatRunsDownAndItsLossToo) {
    Stage a, b, c;
    Chain({&a, &b, &c});
    const WAVEFORMATEX cd = Format(16, 2, 44100);
    a.SetWaveFormat(&cd);
    EXPECT_TRUE(SameFormat(c.WaveFormat(), &cd));
    EXPECT_NE(c.WaveFormat(), a.WaveFormat()) << "each component owns its own copy";

    b.SetInput(nullptr);
    EXPECT_EQ(a.Output(), nullptr);
    EXPECT_EQ(b.WaveFormat(), nullptr);
    EXPECT_EQ(c.WaveFormat(), nullptr);

    // Linking again brings the format back down.
    c.SetInput(&a);
    EXPECT_TRUE(SameFormat(c.WaveFormat(), &cd));
}

TEST(ChainFormats, AFormatChangeStopsAStartedComponent) {
    Stage a, b;
    Chain({&a, &b});
    const WAVEFORMATEX cd = Format(16, 2, 44100);
    const WAVEFORMATEX mono = Format(8, 1, 8000);
    a.SetWaveFormat(&cd);
    b.Open();
    b.Start();
    a.SetWaveFormat(&mono);
    EXPECT_FALSE(b.Started());
    EXPECT_TRUE(SameFormat(b.WaveFormat(), &mono));
}

TEST(ChainFormats, LoadingDefersPropagationUntilLoaded) {
    Stage a, b;
    a.BeginLoading();
    b.BeginLoading();
    b.SetInput(&a);
    const WAVEFORMATEX cd = Format(16, 2, 44100);
    a.SetWaveFormat(&cd);
    EXPECT_EQ(b.WaveFormat(), nullptr);
    b.Loaded();
    a.Loaded();
    EXPECT_TRUE(SameFormat(b.WaveFormat(), &cd));
}

TEST(ChainLifetime, DestroyingAMemberUnlinksBothNeighbours) {
    Stage a, c;
    auto b = std::make_unique<Stage>();
    Chain({&a, b.get(), &c});
    const WAVEFORMATEX cd = Format(16, 2, 44100);
    a.SetWaveFormat(&cd);
    b.reset();
    EXPECT_EQ(a.Output(), nullptr);
    EXPECT_EQ(c.Input(), nullptr);
    EXPECT_EQ(c.WaveFormat(), nullptr);
}

TEST(ChainLifetime, OwnerRemovalNotifiesSiblings) {
    TComponent form;
    Stage a(&form);
    auto b = std::make_unique<Stage>(&form);
    Chain({&a, b.get()});
    b.reset();
    EXPECT_EQ(a.Output(), nullptr);
    EXPECT_EQ(form.Components().size(), 1u);
}

TEST(ChainState, OpenFixesTheBufferSizeToWholeFrames) {
    const WAVEFORMATEX cd = Format(16, 2, 44100);
    struct Case {
        int nominal;
        bool withFormat;
        int real;
    } cases[] = {{2050, true, 2048}, {2, true, 4}, {2050, false, 2050}, {4096, true, 4096}};
    for (const Case& c : cases) {
        Stage s;
        if (c.withFormat) {
            s.SetWaveFormat(&cd);
        }
        s.SetBufferSize(c.nominal);
        s.Open();
        EXPECT_EQ(s.BufferSize(), c.real) << c.nominal;
        s.Close();
        EXPECT_EQ(s.BufferSize(), c.nominal);
    }
}

TEST(ChainState, FlagsFollowTheOperations) {
    Stage s;
    s.Start();
    EXPECT_FALSE(s.Started()) << "not opened";
    s.Open();
    s.Start();
    s.Pause();
    EXPECT_TRUE(s.Started());
    EXPECT_TRUE(s.Paused());
    s.Restart();
    EXPECT_FALSE(s.Paused());
    s.Pause();
    s.Stop();
    EXPECT_FALSE(s.Started());
    EXPECT_FALSE(s.Paused());
    // A buffer-size change stops a started component.
    s.Start();
    s.SetBufferSize(4096);
    EXPECT_FALSE(s.Started());
}

TEST(DevicePropagation, OpensAndStopsTheChainPartItOwns) {
    Stage generator, peak;
    Device out;
    Chain({&generator, &out, &peak});
    const WAVEFORMATEX cd = Format(16, 2, 44100);
    generator.SetWaveFormat(&cd);
    out.SetBufferSize(8192);

    out.Open();
    for (TMMDSPComponent* c :
         {static_cast<TMMDSPComponent*>(&generator), static_cast<TMMDSPComponent*>(&out),
          static_cast<TMMDSPComponent*>(&peak)}) {
        EXPECT_TRUE(c->Opened());
        EXPECT_EQ(c->BufferSize(), 8192);
    }
    EXPECT_FALSE(out.DeviceUpstream());
    out.Start();
    EXPECT_TRUE(generator.Started() && out.Started() && peak.Started());
    out.Pause();
    EXPECT_TRUE(generator.Paused() && peak.Paused());
    out.Stop();
    EXPECT_FALSE(generator.Started() || out.Started() || peak.Started());
    out.Close();
    EXPECT_FALSE(generator.Opened() || out.Opened() || peak.Opened());
}

TEST(DevicePropagation, NeverReachesPastAnotherDevice) {
    Stage top, filter, below;
    Device first, second;
    Chain({&top, &first, &filter, &second, &below});

    second.Open();
    EXPECT_TRUE(second.DeviceUpstream());
    EXPECT_TRUE(second.Opened());
    EXPECT_TRUE(below.Opened());
    EXPECT_FALSE(filter.Opened());
    EXPECT_FALSE(first.Opened());
    EXPECT_FALSE(top.Opened());
    second.Close();

    // The first device owns top..filter and hands the operation to the second device.
    first.Open();
    EXPECT_TRUE(top.Opened() && filter.Opened() && second.Opened() && below.Opened());
    first.Start();
    EXPECT_TRUE(second.Started() && below.Started());
    first.Stop();
    EXPECT_FALSE(second.Started() || below.Started() || top.Started());
    first.Close();
    EXPECT_FALSE(second.Opened() || below.Opened() || top.Opened());
}

TEST(BufferTraffic, PullRunsUpThenPushRunsDown) {
    Stage source, middle, sink;
    Chain({&source, &middle, &sink});
    std::vector<std::string> calls;
    source.OnBufferLoad = [&](TComponent*, PWaveHdr header, bool& more) {
        calls.push_back("load source");
        header->dwBytesRecorded = 4;
        more = true;
    };
    middle.OnBufferLoad = [&](TComponent*, PWaveHdr, bool&) { calls.push_back("load middle"); };
    middle.OnBufferReady = [&](TComponent*, PWaveHdr) { calls.push_back("ready middle"); };
    sink.OnBufferReady = [&](TComponent* sender, PWaveHdr header) {
        calls.push_back("ready sink");
        EXPECT_EQ(sender, &sink);
        EXPECT_EQ(header->dwBytesRecorded, 4u);
    };

    TMMBufferRecord record{};
    InitBufferRecord(&record, 0);
    bool more = false;
    sink.BufferLoad(&record.Header, more);
    EXPECT_TRUE(more);
    middle.BufferReady(&record.Header);
    EXPECT_EQ(calls, (std::vector<std::string>{"load middle", "load source", "ready middle",
                                               "ready sink"}));
}

// Random link changes, format changes and destructions of a handful of components; after
// every step the links must be two-sided and loop-free and formats must follow the links.
class RandomChain {
public:
    explicit RandomChain(unsigned seed) : random_(seed) {
        for (auto& c : components_) {
            c = Make();
        }
    }

    void Step() {
        TMMDSPComponent* x = Pick();
        switch (random_() % 6) {
        case 0:
        case 1:
            x->SetInput(PickOrNull());
            break;
        case 2:
        case 3:
            x->SetOutput(PickOrNull());
            break;
        case 4: {
            if (!x->Input()) {
                const WAVEFORMATEX format = Format(random_() % 2 ? 8 : 16, 1 + random_() % 2,
                                                   8000 + 1000 * (random_() % 40));
                x->SetWaveFormat(random_() % 5 ? &format : nullptr);
            }
            break;
        }
        default:
            components_[random_() % components_.size()] = Make();
            break;
        }
    }

    void CheckInvariants() const {
        for (const auto& c : components_) {
            if (c->Output()) {
                ASSERT_TRUE(IsLive(c->Output()));
                ASSERT_EQ(c->Output()->Input(), c.get());
            }
            if (c->Input()) {
                ASSERT_TRUE(IsLive(c->Input()));
                ASSERT_EQ(c->Input()->Output(), c.get());
                ASSERT_TRUE(SameFormat(c->WaveFormat(), c->Input()->WaveFormat()));
            }
            size_t steps = 0;
            for (const TMMDSPComponent* d = c.get(); d; d = d->Output()) {
                ASSERT_LE(++steps, components_.size()) << "loop in the chain";
            }
        }
    }

private:
    std::unique_ptr<TMMDSPComponent> Make() {
        if (random_() % 4 == 0) {
            return std::make_unique<Device>();
        }
        return std::make_unique<Stage>();
    }
    TMMDSPComponent* Pick() { return components_[random_() % components_.size()].get(); }
    TMMDSPComponent* PickOrNull() { return random_() % 5 == 0 ? nullptr : Pick(); }
    bool IsLive(const TMMDSPComponent* c) const {
        for (const auto& live : components_) {
            if (live.get() == c) {
                return true;
            }
        }
        return false;
    }

    std::mt19937 random_;
    std::array<std::unique_ptr<TMMDSPComponent>, 6> components_;
};

TEST(ChainRandomised, LinksStayTwoSidedLoopFreeAndFormatsFollow) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        RandomChain chain(seed);
        for (int step = 0; step < 2000; ++step) {
            chain.Step();
            chain.CheckInvariants();
            if (HasFatalFailure()) {
                FAIL() << "seed " << seed << ", step " << step;
            }
        }
    }
}

} // namespace
