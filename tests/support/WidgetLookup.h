#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QWidget>

namespace vocalith::test {

// The first child of that type whose accessible name is name, or nullptr. Labels
// that show changing text are found by their accessible description.
template <typename T> T* byName(const QObject* root, const QString& name) {
    for (T* child : root->findChildren<T*>()) {
        if (child->accessibleName() == name || child->accessibleDescription() == name)
            return child;
    }
    return nullptr;
}

// Controls a screen reader cannot name.
inline QStringList unnamedControls(const QWidget* root) {
    QStringList unnamed;
    for (QWidget* child : root->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(child) ||
                             qobject_cast<QComboBox*>(child) || qobject_cast<QLineEdit*>(child) ||
                             qobject_cast<QPlainTextEdit*>(child);
        // Qt's own inner widgets ("qt_..." names, a combo box's parts) are not ours.
        if (control && child->accessibleName().isEmpty() &&
            !qobject_cast<QComboBox*>(child->parentWidget()) &&
            !child->objectName().startsWith(QLatin1String("qt_")))
            unnamed.append(QString::fromLatin1(child->metaObject()->className()) +
                           QLatin1Char(' ') + child->objectName());
    }
    return unnamed;
}

// Drops the files on a widget as a file manager would.
void dropFiles(QWidget* target, const QList<QUrl>& urls);

} // namespace vocalith::test
