#pragma once
// The tiles of a union store whose pixel data is locked for row access, in
// the order they were last used. The store asks it which tile to unlock when
// too many are locked. It deals in tile indices only.

#include <cstdint>
#include <list>
#include <vector>

namespace quillor {

class TQActiveList {
  public:
    TQActiveList() = default;

    // Forgets every tile and sizes the state table for columns x rows tiles.
    // The default number of tiles kept is columns * 4 + 4. Negative sizes
    // count as 0.
    void Setup(int columns, int rows);

    // False for an index outside the grid.
    bool IsActive(int index) const;
    // Marks the tile active and makes it the most recently used. True when it
    // was not active before. An index outside the grid is ignored (false).
    bool Activate(int index);
    // When more than `keep` tiles are listed (keep -1: the default capacity),
    // makes the least recently used active tile inactive and returns its
    // index; otherwise -1.
    int ReleaseOldest(int keep);

    int Columns() const { return FColumns; }
    int Rows() const { return FRows; }
    int Capacity() const { return FCapacity; }
    int Count() const { return static_cast<int>(FOrder.size()); }

  private:
    bool Inside(int index) const {
        return index >= 0 && static_cast<std::size_t>(index) < FStates.size();
    }

    int FColumns = 0;
    int FRows = 0;
    std::vector<std::int32_t> FStates;
    int FCapacity = 0;
    std::list<int> FOrder;                          // least recently used first
    std::vector<std::list<int>::iterator> FPlaces;  // each active tile's entry in FOrder
};

}  // namespace quillor
