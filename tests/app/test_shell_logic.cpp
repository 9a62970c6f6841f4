#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "app/list_indices.h"
#include "app/play_queue.h"
#include "app/single_instance.h"
#include "app/tick_period.h"
#include "app/window_place.h"

TEST(TickPeriod, ChoosesTheSlowestThatServes) {
    struct Case {
        TickInputs in;
        int period;
    } cases[] = {
        // active, minimized, friend search, playing, jam, banner hide, friends panel, trust work
        {{1, 0, 0, 0, 0, 0, 0, 0}, TICK_STOPPED},
        {{1, 0, 0, 1, 0, 0, 0, 0}, TICK_NORMAL},
        {{1, 0, 0, 0, 0, 1, 0, 0}, TICK_NORMAL},
        {{1, 0, 0, 0, 1, 0, 0, 0}, TICK_SLOW},
        {{1, 0, 0, 0, 0, 0, 1, 0}, TICK_SLOW},
        {{1, 0, 1, 0, 0, 0, 0, 0}, TICK_FAST},
        {{1, 0, 0, 1, 1, 0, 1, 0}, TICK_NORMAL},
        {{0, 0, 0, 1, 0, 0, 0, 0}, TICK_FAST},
        {{0, 0, 0, 0, 0, 1, 0, 0}, TICK_FAST},
        {{0, 0, 0, 0, 1, 0, 0, 0}, TICK_FAST},
        {{0, 0, 0, 0, 0, 0, 1, 0}, TICK_STOPPED},
        {{0, 0, 0, 0, 0, 0, 0, 0}, TICK_STOPPED},
        {{0, 0, 0, 0, 0, 0, 0, 1}, TICK_SLOW},
        {{1, 0, 0, 0, 0, 0, 0, 1}, TICK_SLOW},
        {{1, 1, 0, 0, 0, 0, 0, 0}, TICK_STOPPED},
        {{1, 1, 0, 1, 0, 0, 0, 0}, TICK_FAST},
    };
    for (const Case& c : cases) EXPECT_EQ(tick_period_for(&c.in), c.period) << "row " << (&c - cases);
}

TEST(WindowPlace, TheStartRectangleFitsTheWorkAreaAndKeepsTheMinimum) {
    const RECT HD_150 = {0, 0, 1920, 1032};  // 1080p less a 48-pixel taskbar
    const RECT LOW = {0, 0, 1280, 752};
    const RECT LEFT_BAR = {48, 0, 1920, 1080};
    const RECT SECOND = {1920, 0, 3840, 1040};
    struct Case {
        SavedWindow saved;  // known 0: a first start
        RECT work;
        int dpi;
        RECT expected;
    } cases[] = {
        {{}, {0, 0, 1920, 1040}, 96, {620, 160, 1300, 880}},  // 680 x 720, centred
        {{}, HD_150, 144, {450, 0, 1470, 1032}},               // 1020 x 1080 cut to the work area's height
        {{}, LOW, 144, {130, 0, 1150, 752}},
        {{}, LEFT_BAR, 96, {644, 180, 1324, 900}},
        {{}, LOW, 0, {300, 16, 980, 736}},  // no DPI known: 96
        {{1, 2000, 100, 800, 600, 0}, SECOND, 96, {2000, 100, 2800, 700}},
        {{1, 100, 900, 800, 600, 1}, {0, 0, 1920, 1040}, 96, {100, 440, 900, 1040}},  // pushed up into view
        {{1, -300, -40, 800, 600, 0}, LEFT_BAR, 96, {48, 0, 848, 600}},
        {{1, 10, 10, 200, 200, 0}, HD_150, 144, {10, 10, 760, 790}},                  // the minimum, 750 x 780
        {{1, 10, 10, 200, 200, 0}, LOW, 144, {10, 0, 760, 752}},                      // a minimum the screen can hold
        {{1, -50, -50, 5000, 5000, 0}, HD_150, 96, {0, 0, 1920, 1032}},
    };
    for (const Case& c : cases) {
        RECT r = window_start_rect(c.saved.known ? &c.saved : nullptr, c.work, c.dpi);
        const RECT& e = c.expected;
        EXPECT_TRUE(r.left == e.left && r.top == e.top && r.right == e.right && r.bottom == e.bottom)
            << "row " << (&c - cases) << ": " << r.left << "," << r.top << "-" << r.right << "," << r.bottom;
    }
    SIZE min = window_min_size(144, LOW);
    EXPECT_TRUE(min.cx == 750 && min.cy == 752);
    min = window_min_size(96, HD_150);
    EXPECT_TRUE(min.cx == 500 && min.cy == 520);
}

TEST(ListIndices, RemovalKeepsThePlayingTrack) {
    ListIndices ix = {5, 2};
    EXPECT_EQ(indices_after_remove(&ix, 2, 9), 0);
    EXPECT_EQ(ix.current, 4);
    EXPECT_EQ(ix.selected, 2);
    ix = {5, 5};
    EXPECT_EQ(indices_after_remove(&ix, 5, 9), 1);
    EXPECT_EQ(ix.current, -1);
    EXPECT_EQ(ix.selected, 5);
    ix = {3, 7};
    EXPECT_EQ(indices_after_remove(&ix, 7, 7), 0);
    EXPECT_EQ(ix.current, 3);
    EXPECT_EQ(ix.selected, 6);
    ix = {1, 4};
    indices_after_remove(&ix, 6, 6);
    EXPECT_EQ(ix.current, 1);
    EXPECT_EQ(ix.selected, 4);
    ix = {0, 0};
    EXPECT_EQ(indices_after_remove(&ix, 0, 0), 1);
    EXPECT_EQ(ix.current, -1);
    EXPECT_EQ(ix.selected, -1);
}

TEST(ListIndices, MovingFollowsThePlayingTrack) {
    ListIndices ix = {5, 0};
    indices_after_move(&ix, 5, 2);
    EXPECT_EQ(ix.current, 2);
    EXPECT_EQ(ix.selected, 2);
    ix = {4, 0};
    indices_after_move(&ix, 1, 6);
    EXPECT_EQ(ix.current, 3);
    EXPECT_EQ(ix.selected, 6);
    ix = {4, 0};
    indices_after_move(&ix, 6, 1);
    EXPECT_EQ(ix.current, 5);
    ix = {7, 0};
    indices_after_move(&ix, 1, 6);
    EXPECT_EQ(ix.current, 7);
    ix = {-1, 0};
    indices_after_move(&ix, 1, 6);
    EXPECT_EQ(ix.current, -1);
}

TEST(PlayQueueRules, VolumeSeekAndScroll) {
    EXPECT_EQ(volume_from_fraction(0.495f), 50);
    EXPECT_EQ(volume_from_fraction(0.494f), 49);
    EXPECT_EQ(volume_from_fraction(-1), 0);
    EXPECT_EQ(volume_from_fraction(2), 100);

    EXPECT_EQ(key_seek_target(3000, 60000, 0), 0);
    EXPECT_EQ(key_seek_target(5000, 60000, 0), 0);
    EXPECT_EQ(key_seek_target(5001, 60000, 0), 1);
    EXPECT_EQ(key_seek_target(10000, 60000, 1), 15000);
    EXPECT_EQ(key_seek_target(57000, 60000, 1), 60000) << "3 s before the end Right goes to the end";
    EXPECT_EQ(key_seek_target(57000, 0, 1), 62000) << "an unknown duration does not stop Right";

    float target = 0;
    EXPECT_EQ(scroll_target_for_row(2, 0, 500, 96, &target), 0);
    EXPECT_EQ(scroll_target_for_row(3, 400, 500, 96, &target), 1);
    EXPECT_EQ(target, 168);
    EXPECT_EQ(scroll_target_for_row(9, 0, 500, 96, &target), 1);
    EXPECT_EQ(target, 560 - 500 + 12);
}

static std::wstring key_of(const wchar_t* path, const wchar_t* user) {
    wchar_t key[INSTANCE_KEY_CAPACITY];
    instance_key(path, user, key, INSTANCE_KEY_CAPACITY);
    return key;
}

TEST(InstanceKey, OnePerInstallationAndUser) {
    std::wstring key = key_of(L"C:\\Program Files\\Nelvo\\Nelvo.exe", L"ayse");
    ASSERT_EQ(key.size(), 22u);
    EXPECT_EQ(key.substr(0, 6), L"Nelvo-");
    EXPECT_EQ(key.find_first_not_of(L"0123456789abcdef", 6), std::wstring::npos) << "an object name holds no backslash";

    const struct {
        const wchar_t *path_a, *user_a, *path_b, *user_b;
        bool same;
    } rows[] = {
        {L"C:\\Program Files\\Nelvo\\Nelvo.exe", L"ayse", L"c:\\PROGRAM FILES\\nelvo\\NELVO.EXE", L"AYSE", true},
        {L"D:\\M\u00fczik \u00c7alar\\Nelvo.exe", L"ayse", L"D:\\M\u00dcZIK \u00c7ALAR\\nelvo.exe", L"ayse", true},
        {L"C:/Apps/Nelvo.exe", L"ayse", L"C:\\Apps\\Nelvo.exe", L"ayse", true},
        {L"D:\\Nelvo\\Nelvo.exe", L"ayse", L"D:\\Nelvo2\\Nelvo.exe", L"ayse", false},
        {L"D:\\Nelvo\\Nelvo.exe", L"ayse", L"E:\\Nelvo\\Nelvo.exe", L"ayse", false},
        {L"D:\\Nelvo\\Nelvo.exe", L"ayse", L"D:\\Nelvo\\Nelvo.exe", L"mehmet", false},
        {L"C:\\a", L"bc", L"C:\\ab", L"c", false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(key_of(r.path_a, r.user_a) == key_of(r.path_b, r.user_b), r.same) << "row " << (&r - rows);
    std::wstring deep(30000, L'x');
    EXPECT_EQ(key_of((L"C:\\" + deep).c_str(), L"ayse").size(), 22u) << "any path length gives a short name";
}

// A hand-over block from its parts, as another process might send it.
static std::string block(UINT32 tag, UINT32 count, const std::wstring& body) {
    std::string b(8 + body.size() * 2, '\0');
    memcpy(&b[0], &tag, 4);
    memcpy(&b[4], &count, 4);
    if (!body.empty()) memcpy(&b[8], body.data(), body.size() * 2);
    return b;
}

TEST(Handover, PacksAndChecksTheFileList) {
    std::vector<char> out(HANDOVER_MAX_BYTES);
    const wchar_t* paths[HANDOVER_MAX_FILES];
    std::wstring longest(HANDOVER_MAX_PATH, L'y'), too_long(HANDOVER_MAX_PATH + 1, L'z');
    const wchar_t* files[] = {L"C:\\M\u00fczik\\\u015fark\u0131 1.mp3", L"", nullptr, too_long.c_str(), L"D:\\liste.m3u8",
                              longest.c_str()};
    int taken = 0;
    size_t size = handover_pack(files, 6, out.data(), out.size(), &taken);
    EXPECT_EQ(taken, 6);
    ASSERT_EQ(handover_unpack(out.data(), size, paths, HANDOVER_MAX_FILES), 3) << "empty and over-long paths are left out";
    EXPECT_STREQ(paths[0], files[0]);
    EXPECT_STREQ(paths[1], L"D:\\liste.m3u8");
    EXPECT_EQ(std::wstring(paths[2]), longest);

    // A list larger than one block goes in several, none lost.
    size = handover_pack(files, 6, out.data(), 8 + 2 * (wcslen(files[0]) + 1) + 2 * 5, &taken);
    EXPECT_EQ(taken, 4);
    EXPECT_EQ(handover_unpack(out.data(), size, paths, HANDOVER_MAX_FILES), 1);
    size = handover_pack(files + taken, 6 - taken, out.data(), out.size(), &taken);
    EXPECT_EQ(taken, 2);
    EXPECT_EQ(handover_unpack(out.data(), size, paths, HANDOVER_MAX_FILES), 2);
    size = handover_pack(nullptr, 0, out.data(), out.size(), &taken);
    EXPECT_EQ(handover_unpack(out.data(), size, paths, HANDOVER_MAX_FILES), 0) << "no files: only to the front";

    const UINT32 TAG = (UINT32)HANDOVER_TAG;
    std::wstring two(L"C:\\a.mp3\0C:\\b.mp3\0", 18);
    std::wstring many_long;  // every path allowed, the whole beyond a block's size
    for (int i = 0; i < 17; i++) many_long += std::wstring(32000, L'w') + std::wstring(1, L'\0');
    EXPECT_EQ(handover_unpack(block(TAG, 2, two).data(), block(TAG, 2, two).size(), paths, HANDOVER_MAX_FILES), 2);
    const struct {
        std::string bytes;
        int capacity;
    } broken[] = {
        {block(TAG, 0, L"").substr(0, 7), HANDOVER_MAX_FILES},
        {block(TAG + 1, 2, two), HANDOVER_MAX_FILES},
        {block(TAG, 2, two) + "x", HANDOVER_MAX_FILES},
        {block(TAG, 3, two), HANDOVER_MAX_FILES},
        {block(TAG, 1, two), HANDOVER_MAX_FILES},
        {block(TAG, 2, two.substr(0, 17)), HANDOVER_MAX_FILES},
        {block(TAG, 2, std::wstring(L"C:\\a.mp3\0\0", 10)), HANDOVER_MAX_FILES},
        {block(TAG, 0xFFFFFFFFu, two), HANDOVER_MAX_FILES},
        {block(TAG, HANDOVER_MAX_FILES + 1, two), HANDOVER_MAX_FILES + 8},
        {block(TAG, 2, two), 1},
        {block(TAG, 1, too_long + std::wstring(1, L'\0')), HANDOVER_MAX_FILES},
        {block(TAG, 17, many_long), HANDOVER_MAX_FILES},
    };
    for (const auto& b : broken) {
        std::vector<const wchar_t*> room(b.capacity);
        EXPECT_EQ(handover_unpack(b.bytes.data(), b.bytes.size(), room.data(), b.capacity), -1) << "row " << (&b - broken);
    }
}
