#include "companionfile.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// A companion file of any content against a log of three records: only values that match a
// record's stored bytes may be taken, and a taken value always keeps its record's stored cut.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const CompanionContents companion = DecodeCompanion(text);
    QHash<int, QList<WholeValue>> values;
    for (const WholeValue& value : companion.values)
        values[value.record].append(value);
    for (int position = 0; position < 3; ++position) {
        ItemRecord record = EmptyItemRecord();
        SetFieldText(record.Url, QStringLiteral("http://example.com/") + QString(120, u'u'));
        const StoredItemRecord before = ToStored(record);
        RestoreWholeValues(record,
                           QByteArrayView(reinterpret_cast<const char*>(&before), sizeof before),
                           values.value(position));
        const StoredItemRecord after = ToStored(record);
        if (std::memcmp(&before, &after, sizeof before) != 0)
            __builtin_trap(); // a whole value changed the bytes the log holds
    }
    return 0;
}
