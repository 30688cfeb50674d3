// The downloader's reference holder: each reference it takes or is given goes back exactly once,
// and a release that reaches back into the holder finds it already changed.
#include <gtest/gtest.h>

#include <utility>

#include "downloader/Downloader.h"
#include "downloader/Ref.h"

namespace {

class Counted : public downloader::IObject {
public:
    explicit Counted(const downloader::Ref<Counted>* watched = nullptr) : watched_(watched) {}
    void AddRef() override { ++count; }
    void Release() override {
        if (--count == 0 && watched_) heldAtLastRelease = watched_->Get();
    }
    int count = 1;
    const Counted* heldAtLastRelease = this;
private:
    const downloader::Ref<Counted>* watched_;
};

TEST(Ref, EveryReferenceGoesBackOnceAndTheHolderChangesFirst) {
    Counted a, b;
    {
        downloader::Ref<Counted> adopted(&a);                          // takes over a's one reference
        downloader::Ref<Counted> shared = downloader::Ref<Counted>::Share(&b);
        EXPECT_EQ(a.count, 1);
        EXPECT_EQ(b.count, 2);
        downloader::Ref<Counted> moved = std::move(shared);             // moves, takes nothing
        EXPECT_FALSE(shared);
        EXPECT_EQ(b.count, 2);
        moved = std::move(adopted);                                     // b's reference goes back
        EXPECT_EQ(b.count, 1);
        EXPECT_EQ(moved.Get(), &a);
        Counted* detached = moved.Detach();                             // a's stays with the caller
        EXPECT_EQ(detached, &a);
        EXPECT_FALSE(moved);
    }
    EXPECT_EQ(a.count, 1);
    EXPECT_EQ(b.count, 1);

    // The last release of an object may run code that looks at the holder that held it.
    downloader::Ref<Counted> holder;
    Counted first(&holder), second;
    holder.Reset(&first);
    holder.Reset(&second);
    EXPECT_EQ(first.heldAtLastRelease, &second);
    holder.Reset();
    EXPECT_EQ(second.count, 0);
    EXPECT_EQ(downloader::Ref<Counted>::Share(nullptr).Get(), nullptr);
}

} // namespace
