// The monitor list and CenterOnFirstMonitor, fed with AddMonitor directly.
#include "ui/MonitorList.h"
#include "ui/ProgressDialog.h"
#include "ui/tests/UiTestSupport.h"
#include <gtest/gtest.h>
#include <climits>
#include <vector>

namespace {

// Index and rectangle of every node from head to tail.
struct Node {
    int32_t index;
    LONG left, top, right, bottom;
    bool operator==(const Node& o) const
    {
        return index == o.index && left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

std::vector<Node> Nodes()
{
    std::vector<Node> nodes;
    for (MonitorNode* n = MonitorListHead; n != nullptr; n = n->next)
        nodes.push_back({n->index, n->rect.left, n->rect.top, n->rect.right, n->rect.bottom});
    return nodes;
}

void Add(LONG left, LONG top, LONG right, LONG bottom)
{
    RECT rect = {left, top, right, bottom};
    // The handle, device context and caller data are not used.
    EXPECT_EQ(AddMonitor(reinterpret_cast<HMONITOR>(0x1234), reinterpret_cast<HDC>(0x5678), &rect, 99),
              TRUE);
}

// A hidden popup window of an exact size at a known place.
class Window {
public:
    Window(int width, int height)
    {
        handle_ = CreateWindowExA(0, "Static", "", WS_POPUP, 33, 44, width, height, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    ~Window() { DestroyWindow(handle_); }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    HWND Handle() const { return handle_; }
    RECT Rect() const
    {
        RECT r = {};
        GetWindowRect(handle_, &r);
        return r;
    }

private:
    HWND handle_;
};

class MonitorList : public ::testing::Test {
protected:
    void SetUp() override { FreeMonitors(); }
    void TearDown() override { FreeMonitors(); }
};

TEST_F(MonitorList, AddMonitorAppendsInOrder)
{
    EXPECT_EQ(MonitorListHead, nullptr);
    EXPECT_EQ(MonitorListTail, nullptr);
    Add(0, 0, 1920, 1080);
    ASSERT_NE(MonitorListHead, nullptr);
    EXPECT_EQ(MonitorListHead, MonitorListTail);
    Add(1920, -200, 3200, 824);
    Add(-1280, 0, 0, 1024);
    EXPECT_EQ(Nodes(), (std::vector<Node>{{0, 0, 0, 1920, 1080},
                                          {1, 1920, -200, 3200, 824},
                                          {2, -1280, 0, 0, 1024}}));
    EXPECT_EQ(MonitorListTail->index, 2);
    EXPECT_EQ(MonitorListTail->next, nullptr);
}

TEST_F(MonitorList, GetMonitorRect)
{
    Add(0, 0, 800, 600);
    Add(800, 0, 1824, 768);
    RECT r = {1, 2, 3, 4};
    EXPECT_EQ(GetMonitorRect(&r, 1), 1);
    EXPECT_EQ(r.left, 800);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 1824);
    EXPECT_EQ(r.bottom, 768);
    EXPECT_EQ(GetMonitorRect(&r, 0), 1);
    EXPECT_EQ(r.right, 800);
    RECT untouched = {1, 2, 3, 4};
    EXPECT_EQ(GetMonitorRect(&untouched, 2), 0);
    EXPECT_EQ(GetMonitorRect(&untouched, -1), 0);
    EXPECT_EQ(untouched.left, 1);
    EXPECT_EQ(untouched.top, 2);
    EXPECT_EQ(untouched.right, 3);
    EXPECT_EQ(untouched.bottom, 4);
    FreeMonitors();
    EXPECT_EQ(GetMonitorRect(&untouched, 0), 0);
    EXPECT_EQ(untouched.left, 1);
}

TEST_F(MonitorList, FreeMonitors)
{
    Add(0, 0, 10, 10);
    Add(10, 0, 20, 10);
    Add(20, 0, 30, 10);
    FreeMonitors();
    EXPECT_EQ(MonitorListHead, nullptr);
    EXPECT_EQ(MonitorListTail, nullptr);
    // A new collection starts from index 0 again.
    Add(5, 5, 15, 15);
    EXPECT_EQ(Nodes(), (std::vector<Node>{{0, 5, 5, 15, 15}}));
}

TEST_F(MonitorList, FreeMonitorsOnAnEmptyListOnlyClearsTail)
{
    // A tail without a head: nothing may be deleted (this node lives on the
    // stack), the tail is cleared.
    MonitorNode stray = {7, {0, 0, 1, 1}, nullptr};
    MonitorListHead = nullptr;
    MonitorListTail = &stray;
    FreeMonitors();
    EXPECT_EQ(MonitorListHead, nullptr);
    EXPECT_EQ(MonitorListTail, nullptr);
    EXPECT_EQ(stray.index, 7);
    FreeMonitors();
    EXPECT_EQ(MonitorListTail, nullptr);
}

struct CenterCase {
    const char* what;
    std::vector<RECT> monitors;
    int width, height;
    LONG x, y;
};

TEST_F(MonitorList, CenterOnFirstMonitor)
{
    const CenterCase cases[] = {
        {"even positive differences", {{0, 0, 1280, 1024}}, 300, 200, 490, 412},
        {"odd positive differences truncate", {{0, 0, 1001, 601}}, 300, 200, 350, 200},
        {"negative differences", {{0, 0, 200, 100}}, 300, 200, -50, -50},
        // -5 / 2 is -2 and -105 / 2 is -52, toward zero (not -3 and -53).
        {"odd negative differences truncate toward zero", {{0, 0, 295, 95}}, 300, 200, -2, -52},
        {"-1 gives 0", {{0, 0, 299, 199}}, 300, 200, 0, 0},
        {"1 gives 0", {{0, 0, 301, 201}}, 300, 200, 0, 0},
        {"equal sizes", {{0, 0, 300, 200}}, 300, 200, 0, 0},
        {"the monitor's corner is not added", {{1280, 300, 2560, 1324}}, 300, 200, 490, 412},
        {"negative corner, not added", {{-1920, -100, 0, 980}}, 300, 200, 810, 440},
        {"several monitors: only index 0",
         {{0, 0, 800, 600}, {800, 0, 2720, 1080}, {-1024, 0, 0, 768}}, 300, 200, 250, 200},
        {"several monitors, a small first one",
         {{0, 0, 101, 51}, {0, 0, 4000, 4000}}, 300, 200, -99, -74},
        // right - left wraps in 32 bits to -1; (-1 - 300) / 2 = -150.
        {"32-bit wrap of the monitor width", {{INT_MIN, 0, INT_MAX, 1024}}, 300, 200, -150, 412},
    };
    for (const CenterCase& c : cases) {
        SCOPED_TRACE(c.what);
        FreeMonitors();
        for (const RECT& m : c.monitors)
            Add(m.left, m.top, m.right, m.bottom);
        Window window(c.width, c.height);
        ASSERT_NE(window.Handle(), nullptr);
        RECT before = window.Rect();
        ASSERT_EQ(before.right - before.left, c.width);
        ASSERT_EQ(before.bottom - before.top, c.height);
        CenterOnFirstMonitor(window.Handle());
        RECT after = window.Rect();
        EXPECT_EQ(after.left, c.x);
        EXPECT_EQ(after.top, c.y);
        EXPECT_EQ(after.right - after.left, c.width) << "the size stays";
        EXPECT_EQ(after.bottom - after.top, c.height);
        EXPECT_EQ(Nodes().size(), c.monitors.size()) << "the list is only read";
    }
}

// No monitor 0 (the enumeration reported none): the window stays where it is.
TEST_F(MonitorList, NoMonitorLeavesTheWindowInPlace)
{
    Window window(300, 200);
    RECT before = window.Rect();
    EXPECT_EQ(before.left, 33);
    EXPECT_EQ(before.top, 44);
    CenterOnFirstMonitor(window.Handle());
    RECT after = window.Rect();
    EXPECT_EQ(after.left, 33);
    EXPECT_EQ(after.top, 44);
    EXPECT_EQ(after.right, before.right);
    EXPECT_EQ(after.bottom, before.bottom);
}

// The real enumeration under Xvfb, and the real dialog placed by it.
TEST_F(MonitorList, CollectMonitorsAndTheRealDialog)
{
    EXPECT_TRUE(CollectMonitors());
    std::vector<Node> nodes = Nodes();
    ASSERT_GE(nodes.size(), 1u);
    for (size_t i = 0; i < nodes.size(); ++i)
        EXPECT_EQ(nodes[i].index, static_cast<int32_t>(i));
    // The primary monitor is the whole screen here (one Xvfb screen).
    EXPECT_EQ(nodes[0].right - nodes[0].left, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(nodes[0].bottom - nodes[0].top, GetSystemMetrics(SM_CYSCREEN));

    RealDialog dialog;
    ASSERT_NE(dialog.Handle(), nullptr);
    RECT win = {};
    GetWindowRect(dialog.Handle(), &win);
    CenterOnFirstMonitor(dialog.Handle());
    RECT placed = {};
    GetWindowRect(dialog.Handle(), &placed);
    const LONG w = win.right - win.left, h = win.bottom - win.top;
    EXPECT_EQ(placed.left, ((nodes[0].right - nodes[0].left) - w) / 2);
    EXPECT_EQ(placed.top, ((nodes[0].bottom - nodes[0].top) - h) / 2);
    EXPECT_EQ(placed.right - placed.left, w);
    EXPECT_FALSE(IsWindowVisible(dialog.Handle())) << "placing does not show";
}

}  // namespace
