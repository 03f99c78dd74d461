// The "%s" filling of string-table texts: a table entry is data, never a format. The input
// is split at its first NUL into the entry and the value put into it.

#include "FuzzInput.h"
#include "workflow/Messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const QByteArray input = fuzzing::bytes(data, size);
    const qsizetype cut = input.indexOf('\0');
    const QString format = QString::fromUtf8(cut < 0 ? input : input.left(cut));
    const QString arg = cut < 0 ? QString() : QString::fromUtf8(input.mid(cut + 1));
    const QString filled = messages::fill(format, arg);
    const qsizetype at = format.indexOf(QLatin1String("%s"));
    if (at < 0) {
        fuzzing::require(filled == format);
    } else {
        fuzzing::require(filled.size() == format.size() - 2 + arg.size());
        fuzzing::require(QStringView(filled).mid(at, arg.size()) == arg);
    }
    return 0;
}
