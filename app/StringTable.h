#pragma once
// The string table of displayed sentences: a compiled Qt translation file in the bundle's
// resources, named Localizable_<language>.qm, context "Localizable".

#include <QLocale>
#include <QString>

namespace stringtable {

// Installs the table for `locale` from `resourcesDir` in place of the one installed before;
// English when no table matches the locale. Returns false when no table was found, in
// which case every lookup shows its key. Call on the GUI thread.
bool install(const QString& resourcesDir, const QLocale& locale = QLocale::system());

} // namespace stringtable
