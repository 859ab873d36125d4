#include "media/PlayerBackend.h"

#include "media/MpvBackend.h"

namespace media {

namespace {

BackendFactory &factory()
{
    static BackendFactory f;
    return f;
}

} // namespace

std::unique_ptr<PlayerBackend> createBackend(BackendPurpose purpose)
{
    if (factory()) {
        if (auto backend = factory()(purpose))
            return backend;
    }
    return std::make_unique<MpvBackend>(purpose);
}

BackendFactory setBackendFactory(BackendFactory f)
{
    BackendFactory before = std::move(factory());
    factory() = std::move(f);
    return before;
}

} // namespace media
