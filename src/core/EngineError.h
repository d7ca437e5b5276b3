#pragma once

#include <QString>

namespace vocalith {

// What a failed job reports. Controllers show only the description; domain and
// code say which failure it was.
struct EngineError {
    QString domain;
    int code = 0;
    QString description;

    bool operator==(const EngineError&) const = default;
};

} // namespace vocalith
