#pragma once

#include <QString>
#include <QUuid>

namespace vocalith {

// A UUID as the project writes it everywhere: 36 characters, upper case, no braces.
QString uuidText(const QUuid& id = QUuid::createUuid());

} // namespace vocalith
