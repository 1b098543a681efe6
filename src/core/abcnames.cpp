#include "abcnames.h"

#include "swfreader.h"

#include <QSet>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

using swf::Reader;

/// A name of the constant pool that a class can have: a namespace and a string, as indices.
struct QualifiedName
{
    quint32 ns = 0;
    quint32 name = 0;
};

void skipU30s(Reader& reader, quint32 count)
{
    for (quint32 i = 0; i < count && reader.ok(); ++i)
        reader.u30();
}

/// The multinames of the pool; those that are no qualified name are kept empty.
std::vector<QualifiedName> readMultinames(Reader& reader)
{
    std::vector<QualifiedName> names(1); // the entry 0 is "any name"
    const quint32 count = reader.u30();
    for (quint32 i = 1; i < count && reader.ok(); ++i) {
        QualifiedName name;
        switch (reader.u8()) {
        case 0x07: // QName
        case 0x0D: // QNameA
            name.ns = reader.u30();
            name.name = reader.u30();
            break;
        case 0x0F: // RTQName
        case 0x10:
        case 0x1B: // MultinameL
        case 0x1C:
            reader.u30();
            break;
        case 0x11: // RTQNameL
        case 0x12:
            break;
        case 0x09: // Multiname: a name and a namespace set
        case 0x0E:
            reader.u30();
            reader.u30();
            break;
        case 0x1D: // a generic type: its name, then its parameters
            reader.u30();
            skipU30s(reader, reader.u30());
            break;
        default: // a kind the format does not have: the rest cannot be read
            reader.bytes(-1);
            break;
        }
        names.push_back(name);
    }
    return names;
}

void skipMethods(Reader& reader)
{
    const quint32 count = reader.u30();
    for (quint32 i = 0; i < count && reader.ok(); ++i) {
        const quint32 parameters = reader.u30();
        reader.u30(); // return type
        skipU30s(reader, parameters);
        reader.u30(); // name
        const quint32 flags = reader.u8();
        if (flags & 0x08) { // optional parameters: a value and its kind each
            const quint32 options = reader.u30();
            for (quint32 k = 0; k < options && reader.ok(); ++k) {
                reader.u30();
                reader.u8();
            }
        }
        if (flags & 0x80) // parameter names
            skipU30s(reader, parameters);
    }
}

void skipMetadata(Reader& reader)
{
    const quint32 count = reader.u30();
    for (quint32 i = 0; i < count && reader.ok(); ++i) {
        reader.u30(); // name
        skipU30s(reader, 2 * reader.u30());
    }
}

void skipTraits(Reader& reader)
{
    const quint32 count = reader.u30();
    for (quint32 i = 0; i < count && reader.ok(); ++i) {
        reader.u30(); // name
        const quint32 kind = reader.u8();
        switch (kind & 0x0F) {
        case 0: // slot
        case 6: // constant
            reader.u30();
            reader.u30();
            if (reader.u30() != 0)
                reader.u8();
            break;
        case 1: // method, getter, setter, class, function: a number and an index
        case 2:
        case 3:
        case 4:
        case 5:
            reader.u30();
            reader.u30();
            break;
        default:
            reader.bytes(-1);
            break;
        }
        if (kind & 0x40) // metadata
            skipU30s(reader, reader.u30());
    }
}

} // namespace

AbcNames ReadAbcNames(quint32 code, QByteArrayView body)
{
    AbcNames names;
    Reader reader(body);
    if (code == swf::DoAbc) {
        reader.u32();    // flags
        reader.string(); // name
    }
    reader.u16();                                     // minor version
    reader.u16();                                     // major version
    skipU30s(reader, std::max(reader.u30(), 1u) - 1); // integers
    skipU30s(reader, std::max(reader.u30(), 1u) - 1); // unsigned integers
    if (const quint32 doubles = reader.u30(); doubles > 1)
        reader.skip(qsizetype(doubles - 1) * 8);
    names.strings.append(QByteArrayView()); // the entry 0 is "no string"
    const quint32 strings = reader.u30();
    for (quint32 i = 1; i < strings && reader.ok(); ++i)
        names.strings.append(reader.bytes(reader.u30()));
    std::vector<quint32> namespaces(1);
    const quint32 namespaceCount = reader.u30();
    for (quint32 i = 1; i < namespaceCount && reader.ok(); ++i) {
        reader.u8(); // kind
        namespaces.push_back(reader.u30());
    }
    const quint32 sets = reader.u30();
    for (quint32 i = 1; i < sets && reader.ok(); ++i)
        skipU30s(reader, reader.u30());
    const std::vector<QualifiedName> multinames = readMultinames(reader);
    skipMethods(reader);
    skipMetadata(reader);
    const auto text = [&](quint32 index) {
        return index < static_cast<quint32>(names.strings.size())
                   ? QString::fromUtf8(names.strings[index])
                   : QString();
    };
    QSet<QString> packages;
    const quint32 classes = reader.u30();
    for (quint32 i = 0; i < classes && reader.ok(); ++i) {
        const quint32 name = reader.u30();
        reader.u30(); // the class it extends
        if (reader.u8() & 0x08)
            reader.u30();               // its protected namespace
        skipU30s(reader, reader.u30()); // interfaces
        reader.u30();                   // constructor
        skipTraits(reader);
        if (!reader.ok() || name >= multinames.size() || multinames[name].name == 0)
            continue;
        const QualifiedName& qualified = multinames[name];
        const QString package =
            qualified.ns < namespaces.size() ? text(namespaces[qualified.ns]) : QString();
        const QString className = text(qualified.name);
        names.classes << (package.isEmpty() ? className : package + u'.' + className);
        if (!package.isEmpty() && !packages.contains(package)) {
            packages.insert(package);
            names.packages << package;
        }
    }
    return names;
}
