#pragma once

#include <QByteArray>
#include <QString>

#include <future>
#include <memory>
#include <string_view>
#include <unordered_set>

namespace vocalith {

// The words of the system's English word list (Debian's wamerican), as the list writes
// them: it tells names, places, days and languages by their capital.
class WordList final {
public:
    static QString defaultPath();
    // nullptr when the list cannot be read.
    static std::shared_ptr<const WordList> read(const QString& path);
    // The system list, read once on a thread of its own: the first call starts the
    // reading and returns at once; get() waits for it, nullptr when it is missing.
    static std::shared_future<std::shared_ptr<const WordList>> system();

    bool contains(const QString& word) const;
    qsizetype size() const { return qsizetype(m_words.size()); }

private:
    // The list as read, and its lines: views into it, so reading allocates once.
    QByteArray m_text;
    std::unordered_set<std::string_view> m_words;
};

} // namespace vocalith
