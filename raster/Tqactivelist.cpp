#include "raster/Tqactivelist.h"

#include <algorithm>

namespace quillor {

void TQActiveList::Setup(int columns, int rows) {
    FColumns = std::max(columns, 0);
    FRows = std::max(rows, 0);
    FCapacity = FColumns * 4 + 4;
    FStates.assign(static_cast<std::size_t>(FColumns) * static_cast<std::size_t>(FRows), 0);
    FOrder.clear();
}

bool TQActiveList::IsActive(int index) const {
    return Inside(index) && (FStates[static_cast<std::size_t>(index)] & 1) != 0;
}

bool TQActiveList::Activate(int index) {
    if (!Inside(index))
        return false;
    if (IsActive(index)) {
        auto it = std::find(FOrder.begin(), FOrder.end(), index);
        if (it != FOrder.end())
            FOrder.splice(FOrder.end(), FOrder, it);
        else
            FOrder.push_back(index);
        return false;
    }
    FStates[static_cast<std::size_t>(index)] = 1;
    FOrder.remove(index);
    FOrder.push_back(index);
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
            return index;
        }
    }
    return -1;
}

}  // namespace quillor
