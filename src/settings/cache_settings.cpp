#include "cache_settings.h"

#include <algorithm>

namespace settings {

int readFrameCacheMegabytes(QSettings &store)
{
    if (!store.contains(frameCacheKey)) {
        store.setValue(frameCacheKey, kDefaultFrameCacheMegabytes);
        store.sync();
        return kDefaultFrameCacheMegabytes;
    }
    bool ok = false;
    const qlonglong stored = store.value(frameCacheKey).toString().trimmed().toLongLong(&ok);
    if (!ok)
        return kDefaultFrameCacheMegabytes;
    return int(std::clamp<qlonglong>(stored, kMinimumFrameCacheMegabytes, kMaximumFrameCacheMegabytes));
}

} // namespace settings
