#include "cli/MakeImage.h"

#include <QRandomGenerator>
#include <QSaveFile>
#include <QVector>

bool makeImage(const QString& path, qint64 size, quint32 seed, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QRandomGenerator generator(seed);
    constexpr qint64 kChunk = 1 << 20;
    QVector<quint32> words(kChunk / 4);
    for (qint64 left = size; left > 0; left -= kChunk) {
        generator.fillRange(words.data(), words.size());
        const qint64 n = qMin(left, kChunk);
        if (file.write(reinterpret_cast<const char*>(words.constData()), n) != n) {
            *error = file.errorString();
            return false;
        }
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
