// Placeholder until file loading lands; removed with that change.
#include "raster/Tqunion.h"

namespace quillor {
__attribute__((weak)) int TUnionBitmap::LoadFromFile(const std::string& /*path*/) {
    return 0;
}
}  // namespace quillor
