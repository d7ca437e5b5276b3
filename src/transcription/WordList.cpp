#include "WordList.h"

#include <QFile>

namespace vocalith {

QString WordList::defaultPath() {
    return QStringLiteral("/usr/share/dict/american-english");
}

std::shared_ptr<const WordList> WordList::read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    auto list = std::make_shared<WordList>();
    list->m_text = file.readAll();
    const std::string_view text(list->m_text.constData(), size_t(list->m_text.size()));
    list->m_words.reserve(size_t(list->m_text.count('\n')) + 1);
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            list->m_words.insert(text.substr(start, end - start));
        start = end + 1;
    }
    return list;
}

bool WordList::contains(const QString& word) const {
    const QByteArray utf8 = word.toUtf8();
    return m_words.contains(std::string_view(utf8.constData(), size_t(utf8.size())));
}

std::shared_future<std::shared_ptr<const WordList>> WordList::system() {
    static const std::shared_future<std::shared_ptr<const WordList>> list =
        std::async(std::launch::async, [] { return read(defaultPath()); }).share();
    return list;
}

} // namespace vocalith
