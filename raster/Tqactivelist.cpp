#include "raster/Tqactivelist.h"

#include <algorithm>

namespace quillor {

void TQActiveList::Setup(int columns, int rows) {
    FColumns = std::max(columns, 0);
    FRows = std::max(rows, 0);
    FCapacity = FColumns * 4 + 4;
    FStates.assign(static_cast<std::size_t>(FColumns) * static_cast<std::size_t>(FRows), 0);
    FOrder.clear();
    FPlaces.assign(FStates.size(), FOrder.end());
}

bool TQActiveList::IsActive(int index) const {
    return Inside(index) && (FStates[static_cast<std::size_t>(index)] & 1) != 0;
}

bool TQActiveList::Activate(int index) {
    if (!Inside(index))
        return false;
    const auto i = static_cast<std::size_t>(index);
    if (IsActive(index)) {
        // Row walks activate the same tiles over and over: no search.
        FOrder.splice(FOrder.end(), FOrder, FPlaces[i]);
        return false;
    }
    FStates[i] = 1;
    FPlaces[i] = FOrder.insert(FOrder.end(), index);
    return true;
}

int TQActiveList::ReleaseOldest(int keep) {
    if (keep == -1)
        keep = FCapacity;
    if (static_cast<long long>(FOrder.size()) <= static_cast<long long>(keep))
        return -1;
    for (auto it = FOrder.begin(); it != FOrder.end(); ++it) {
        const int index = *it;
        if (IsActive(index)) {
            FStates[static_cast<std::size_t>(index)] = 0;
            FOrder.erase(it);
            FPlaces[static_cast<std::size_t>(index)] = FOrder.end();
            return index;
        }
    }
    return -1;
}

}  // namespace quillor
