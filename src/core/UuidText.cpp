#include "UuidText.h"

namespace vocalith {

QString uuidText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

} // namespace vocalith
