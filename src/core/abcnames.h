#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

/// What a block of ActionScript 3 code (a DoABC tag's) names: the strings of its constant pool,
/// and the classes it declares with their packages. Damaged parts end the reading; what was read
/// before stays.
struct AbcNames
{
    QList<QByteArrayView> strings; ///< into the block's bytes
    QStringList classes;           ///< each "package.Class", or "Class" in the top-level package
    QStringList packages;          ///< of the classes it declares, each once
};

/// `body`: the tag's body; `code`: DoABC (flags and a name come first) or its older form.
AbcNames ReadAbcNames(quint32 code, QByteArrayView body);
