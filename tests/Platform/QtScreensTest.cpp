#include "Platform/Linux/QtScreens.h"

#include <QtEndian>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

// Builds an XSETTINGS blob in either byte order.
class Blob {
public:
    explicit Blob(bool bigEndian, quint32 count) : big_(bigEndian) {
        bytes_.append(char(big_ ? 1 : 0)).append(3, '\0');
        put32(7);  // serial
        put32(count);
    }
    Blob& integer(const char* name, qint32 value) {
        header(0, name);
        put32(quint32(value));
        return *this;
    }
    Blob& string(const char* name, const QByteArray& value) {
        header(1, name);
        put32(quint32(value.size()));
        bytes_.append(value).append(int((4 - value.size() % 4) % 4), '\0');
        return *this;
    }
    Blob& colour(const char* name) {
        header(2, name);
        bytes_.append(8, '\x7f');
        return *this;
    }
    QByteArray bytes() const { return bytes_; }

private:
    void header(char type, const char* name) {
        const QByteArray n(name);
        bytes_.append(type).append('\0');
        const quint16 length = quint16(n.size());
        const quint16 ordered = big_ ? qToBigEndian(length) : qToLittleEndian(length);
        bytes_.append(reinterpret_cast<const char*>(&ordered), 2);
        bytes_.append(n).append(int((4 - n.size() % 4) % 4), '\0');
        put32(1);  // last-change serial
    }
    void put32(quint32 value) {
        const quint32 ordered = big_ ? qToBigEndian(value) : qToLittleEndian(value);
        bytes_.append(reinterpret_cast<const char*>(&ordered), 4);
    }
    bool big_;
    QByteArray bytes_;
};

TEST(XSettings, ReadsIntegerSettings) {
    const QByteArray little = Blob(false, 4)
                                  .string("Net/ThemeName", "Adwaita")
                                  .colour("Gtk/Colour")
                                  .integer("Net/CursorBlink", 1)
                                  .integer("Gtk/EnableAnimations", 0)
                                  .bytes();
    const QByteArray big = Blob(true, 2).string("Net/IconThemeName", "hicolor").integer("Gtk/EnableAnimations", 1).bytes();
    const QByteArray negative = Blob(false, 1).integer("Gtk/EnableAnimations", -3).bytes();
    struct Case {
        const char* name;
        QByteArray blob;
        std::optional<std::int32_t> expected;
    } cases[] = {
        {"little endian after a string and a colour", little, 0},
        {"big endian", big, 1},
        {"negative", negative, -3},
        {"absent", Blob(false, 1).integer("Net/CursorBlink", 1).bytes(), std::nullopt},
        {"only as a string", Blob(false, 1).string("Gtk/EnableAnimations", "0").bytes(), std::nullopt},
        {"empty", QByteArray(), std::nullopt},
        {"header only", Blob(false, 0).bytes(), std::nullopt},
        {"truncated value", little.left(little.size() - 2), std::nullopt},
        {"count larger than the settings", Blob(false, 9).integer("Net/CursorBlink", 1).bytes(), std::nullopt},
        {"string length past the end",
         Blob(false, 2).string("A", QByteArray(4, 'x')).integer("Gtk/EnableAnimations", 0).bytes().replace(24, 4, "\xff\xff\xff\x7f"),
         std::nullopt},
        {"unknown type", QByteArray(Blob(false, 1).integer("Gtk/EnableAnimations", 0).bytes()).replace(12, 1, "\x09"),
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(QtScreens::xsettingsInteger(c.blob, "Gtk/EnableAnimations"), c.expected);
    }
}

}  // namespace
}  // namespace brevalto
