#pragma once

#include <sndfile.h>

#include <memory>

namespace vocalith {

struct SoundFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
// An open libsndfile handle, closed when it goes out of scope.
using SoundFile = std::unique_ptr<SNDFILE, SoundFileCloser>;

} // namespace vocalith
