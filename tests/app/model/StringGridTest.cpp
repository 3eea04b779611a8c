#include "app/model/StringGrid.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/model/DeviceTable.h"

using namespace vandrel::app;

namespace {

StringGrid Grid(const std::vector<std::string>& keys, const std::vector<std::string>& names) {
    StringGrid grid = MakeDeviceGrid();
    grid.OnCompareCol = [&grid](int col, int a, int b) {
        return CompareDeviceCells(grid, col, a, b);
    };
    for (std::size_t i = 0; i < keys.size(); ++i) {
        AddDeviceRow(grid, names[i] + "\x1F\x1F" + keys[i]);
    }
    return grid;
}

std::vector<std::string> Names(const StringGrid& grid) {
    std::vector<std::string> names;
    for (int r = 1; r < grid.RowCount(); ++r) {
        names.push_back(grid.Cell(ColDevice, r));
    }
    return names;
}

using Texts = std::vector<std::string>;

struct RecordingListener : StringGridListener {
    void RowCountChanged(int, int newCount) override { counts.push_back(newCount); }
    void CellChanged(int, int) override { ++cells; }
    void RowsReordered() override { ++reorders; }
    void CurrentRowChanged(int row) override { rows.push_back(row); }
    std::vector<int> counts;
    int cells = 0;
    int reorders = 0;
    std::vector<int> rows;
};

// Runs f on a thread with a 32 KiB stack; false when the thread could not be had.
bool OnSmallStack(const std::function<void()>& f) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 32 * 1024);
    pthread_t thread;
    const bool started = pthread_create(
                             &thread, &attr,
                             [](void* arg) -> void* {
                                 (*static_cast<const std::function<void()>*>(arg))();
                                 return nullptr;
                             },
                             const_cast<std::function<void()>*>(&f)) == 0;
    pthread_attr_destroy(&attr);
    return started && pthread_join(thread, nullptr) == 0;
}

// The grid's quicksort written out plainly on a copy of the rows (key, id), exchanging rows
// and moving the current row with them.
struct ReferenceSort {
    std::vector<std::pair<std::string, std::string>> rows;
    int current = 0;
    int expected = 0;

    int Compare(int a, int b) const {
        const int order = rows[static_cast<std::size_t>(a)].first.compare(
            rows[static_cast<std::size_t>(b)].first);  // unsigned bytes, a prefix first
        return order < 0    ? StringGrid::CompareBefore
               : order == 0 ? StringGrid::CompareEqual
                            : StringGrid::CompareAfter;
    }
    void Exchange(int a, int b) {
        std::swap(rows[static_cast<std::size_t>(a)], rows[static_cast<std::size_t>(b)]);
        current = current == a ? b : current == b ? a : current;
    }
    void Sort(int lo, int hi) {
        if (hi - lo <= 0) {
            return;
        }
        int i = lo;
        int j = hi - 1;
        for (;; ++i, --j) {
            while (Compare(i, hi) == expected) {
                ++i;
            }
            while (Compare(hi, j) == expected && j != lo) {
                --j;
            }
            if (j <= i) {
                break;
            }
            Exchange(i, j);
        }
        Exchange(i, hi);
        Sort(lo, i - 1);
        Sort(i + 1, hi);
    }
};

}  // namespace

TEST(StringGrid, RowCountNeverBelowTwoAndOutOfRangeAccessIsHarmless) {
    StringGrid grid = MakeDeviceGrid();
    grid.SetRowCount(0);
    EXPECT_EQ(grid.RowCount(), 2);
    grid.SetRowCount(-5);
    EXPECT_EQ(grid.RowCount(), 2);
    grid.SetCell(5, 1, "x");
    grid.SetCell(0, 2, "x");
    grid.SetCell(-1, 1, "x");
    EXPECT_EQ(grid.Cell(5, 1), "");
    EXPECT_EQ(grid.Cell(0, -1), "");
    grid.SetRow(0);  // the header is never the current row
    EXPECT_EQ(grid.Row(), 1);
    grid.SetRow(99);
    EXPECT_EQ(grid.Row(), 1);
    grid.ExchangeRows(1, 7);
}

TEST(StringGrid, ShrinkingMovesTheCurrentRowInside) {
    StringGrid grid = MakeDeviceGrid();
    RecordingListener listener;
    grid.SetListener(&listener);
    grid.SetRowCount(6);
    grid.SetRow(5);
    grid.SetRowCount(3);
    EXPECT_EQ(grid.Row(), 2);
    EXPECT_EQ(listener.counts, (std::vector<int>{6, 3}));
    EXPECT_EQ(listener.rows, (std::vector<int>{5, 2}));
}

TEST(StringGrid, ExchangeMovesTheSelectionWithTheRow) {
    StringGrid grid = Grid({"a", "b", "c"}, {"A", "B", "C"});
    grid.SetRow(1);
    grid.ExchangeRows(1, 3);
    EXPECT_EQ(Names(grid), (Texts{"C", "B", "A"}));
    EXPECT_EQ(grid.Row(), 3);
    grid.ExchangeRows(2, 3);
    EXPECT_EQ(grid.Row(), 2);
    grid.ExchangeRows(1, 3);
    EXPECT_EQ(grid.Row(), 2);  // not involved: stays
}

TEST(StringGrid, EqualKeysEndInTheQuicksortsOrder) {
    StringGrid grid = Grid({"k", "k", "k"}, {"A", "B", "C"});
    grid.SortColumn(ColIP, true);
    EXPECT_EQ(Names(grid), (Texts{"B", "C", "A"}));
    StringGrid down = Grid({"k", "k", "k"}, {"A", "B", "C"});
    down.SortColumn(ColIP, false);
    EXPECT_EQ(Names(down), (Texts{"B", "C", "A"}));
}

TEST(StringGrid, SortsIPsByteWiseBothWays) {
    StringGrid grid =
        Grid({"192.168.1.20", "192.168.1.100", "10.0.0.2", "10.0.0.10", "192.168.1.3"},
             {"a", "b", "c", "d", "e"});
    grid.SortColumn(ColIP, true);
    EXPECT_EQ(Names(grid), (Texts{"d", "c", "b", "a", "e"}));
    grid.SortColumn(ColIP, false);
    EXPECT_EQ(Names(grid), (Texts{"e", "a", "b", "c", "d"}));
}

TEST(StringGrid, SortKeepsTheSelectionOnTheSameDeviceAndReportsOnce) {
    StringGrid grid = Grid({"5", "3", "9", "1", "7"}, {"five", "three", "nine", "one", "seven"});
    grid.SetRow(3);  // "nine"
    RecordingListener listener;
    grid.SetListener(&listener);
    grid.SortColumn(ColIP, true);
    EXPECT_EQ(Names(grid), (Texts{"one", "three", "five", "seven", "nine"}));
    EXPECT_EQ(grid.Cell(ColDevice, grid.Row()), "nine");
    EXPECT_EQ(listener.reorders, 1);
    EXPECT_EQ(listener.cells, 0);
    EXPECT_EQ(listener.rows, (std::vector<int>{5}));
}

TEST(StringGrid, SortWithoutHookOrOnAnEmptyTableDoesNothing) {
    StringGrid grid = MakeDeviceGrid();
    AddDeviceRow(grid, "b");
    AddDeviceRow(grid, "a");
    grid.SortColumn(ColDevice, true);
    EXPECT_EQ(Names(grid), (Texts{"b", "a"}));
    StringGrid empty = Grid({}, {});
    empty.SortColumn(ColDevice, true);
    EXPECT_EQ(empty.RowCount(), 2);
}

TEST(StringGrid, MatchesAReferenceSortOnMixedKeys) {
    // The quicksort is not stable, but the keys must come out ordered either way.
    std::vector<std::string> keys;
    std::vector<std::string> names;
    unsigned seed = 12345;
    for (int i = 0; i < 500; ++i) {
        seed = seed * 1103515245 + 12345;
        keys.push_back(std::to_string((seed >> 16) % 50));
        names.push_back(std::to_string(i));
    }
    StringGrid grid = Grid(keys, names);
    grid.SortColumn(ColIP, true);
    for (int r = 2; r < grid.RowCount(); ++r) {
        ASSERT_LE(grid.Cell(ColIP, r - 1), grid.Cell(ColIP, r));
    }
    grid.SortColumn(ColIP, false);
    for (int r = 2; r < grid.RowCount(); ++r) {
        ASSERT_GE(grid.Cell(ColIP, r - 1), grid.Cell(ColIP, r));
    }
}

TEST(StringGrid, AppendsTenThousandRowsAndSortsItsWorstCase) {
    StringGrid grid = MakeDeviceGrid();
    for (int i = 0; i < 10000; ++i) {
        AddDeviceRow(grid, "D" + std::to_string(i));
    }
    ASSERT_EQ(grid.RowCount(), 10001);
    EXPECT_EQ(grid.Cell(ColDevice, 10000), "D9999");
}

// Sorted input is the quicksort's worst case: every partition splits off only the pivot, so
// recursing into both halves would nest once per row, deeper than the small stack allows for
// these rows (even in an optimised build). The sort must finish there, in order both ways.
TEST(StringGrid, SortsItsWorstCaseOnASmallStack) {
    constexpr int kRows = 3000;
    EXPECT_EXIT(
        {
            StringGrid sorted = MakeDeviceGrid();
            sorted.OnCompareCol = [&sorted](int col, int a, int b) {
                return CompareDeviceCells(sorted, col, a, b);
            };
            for (int i = 0; i < kRows; ++i) {
                AddDeviceRow(sorted, "D" + std::to_string(10000 + i));
            }
            bool ordered = OnSmallStack([&] { sorted.SortColumn(ColDevice, true); }) &&
                           sorted.Cell(ColDevice, 1) == "D10000" &&
                           sorted.Cell(ColDevice, kRows) == "D" + std::to_string(10000 + kRows - 1);
            ordered = ordered && OnSmallStack([&] { sorted.SortColumn(ColDevice, false); }) &&
                      sorted.Cell(ColDevice, 1) == "D" + std::to_string(10000 + kRows - 1);
            std::exit(ordered ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// Told that its hook is the byte order, the grid sorts without calling it; the rows, ties
// included, and the current row must end exactly where the quicksort puts them.
TEST(StringGrid, ByteOrderSortEndsExactlyAsTheQuicksort) {
    std::mt19937 random(20261210);
    const Texts alphabet{"", "a", "b", "B", "ab", "a\xff", "\x80", "ba", "10.0.0.2", "10.0.0.10"};
    for (int round = 0; round < 2000; ++round) {
        const int rows = static_cast<int>(random() % 301);
        const int shape = round % 5;  // random, presorted, reversed, all equal, one different
        const std::size_t letters = shape >= 3 ? 1 : 2 + random() % (alphabet.size() - 1);
        Texts keys;
        for (int r = 0; r < rows; ++r) {
            keys.push_back(alphabet[random() % letters] +
                           (shape < 3 && random() % 3 == 0 ? std::to_string(random() % 40) : ""));
        }
        std::sort(keys.begin(), keys.begin() + (shape == 1 || shape == 2 ? rows : 0));
        std::reverse(keys.begin(), keys.begin() + (shape == 2 ? rows : 0));
        if (shape == 4 && rows > 0) {
            keys[random() % keys.size()] = "z";
        }
        StringGrid grid(2, rows + 1, 1);
        grid.OnCompareCol = [&grid](int col, int a, int b) {
            return CompareDeviceCells(grid, col, a, b);
        };
        grid.SetCompareIsByteOrder(true);
        ReferenceSort reference{{{"", ""}}};
        for (int r = 0; r < rows; ++r) {
            grid.SetCell(0, r + 1, keys[static_cast<std::size_t>(r)]);
            grid.SetCell(1, r + 1, std::to_string(r));
            reference.rows.emplace_back(keys[static_cast<std::size_t>(r)], std::to_string(r));
        }
        grid.SetRow(1 + static_cast<int>(random() % static_cast<unsigned>(std::max(rows, 1))));
        reference.current = grid.Row();
        for (const bool ascending : {random() % 2 == 0, true, false}) {
            reference.expected = ascending ? StringGrid::CompareBefore : StringGrid::CompareAfter;
            reference.Sort(1, rows);
            grid.SortColumn(0, ascending);
            for (int r = 1; r <= rows; ++r) {
                ASSERT_EQ(grid.Cell(1, r), reference.rows[static_cast<std::size_t>(r)].second)
                    << "round " << round << " row " << r << " ascending " << ascending;
            }
            ASSERT_EQ(grid.Row(), std::max(reference.current, 1)) << "round " << round;
        }
    }
}
