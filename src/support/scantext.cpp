// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/scantext.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <optional>
#include <string_view>

// The scanner walks the format and the text with one cursor each. Directives:
//   white space   skips any white space (bytes 1..32) in the text, possibly none;
//   "%%"          matches one "%";
//   other bytes   match themselves exactly;
//   "%[*][width][size]letter" a conversion. Integer letters d, u (decimal), x, p (hexadecimal),
//                 o (octal) and i (decimal, "0"-octal, "0x"/"$"-hexadecimal) store the low 32 bits
//                 of a 64-bit value into the next target. c, s, [set], e/f/g, m read their field
//                 but have no place to go; n stores the count of text bytes read so far without
//                 being counted, as in classic formatted input. Size letters are accepted and
//                 ignored: every target is 32 bits wide.
// The first mismatch, invalid conversion or missing target ends the scan.

namespace
{

constexpr uint64_t kUnlimited = UINT64_MAX;
// Widths beyond this are as good as unlimited; the cap keeps the accumulation from overflowing.
constexpr uint64_t kWidthCap = uint64_t{1} << 40;

bool IsBlank(unsigned char c)
{
    return c >= 1 && c <= 32;
}

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

bool IsSign(unsigned char c)
{
    return c == '+' || c == '-';
}

// Value of a hexadecimal digit; 99 for any other byte, so that it fails every base.
int DigitValue(unsigned char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

unsigned char ToLower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// The bytes before the first zero byte.
std::string_view UpToZero(const QByteArray& bytes)
{
    const auto size = static_cast<size_t>(bytes.size());
    const void* zero = size ? std::memchr(bytes.constData(), 0, size) : nullptr;
    return {bytes.constData(),
            zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes.constData()) : size};
}

int32_t LowWord(uint64_t value)
{
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

class Cursor
{
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ >= text_.size(); }
    size_t consumed() const { return pos_; }
    // The byte `ahead` bytes after the cursor; 0 past the end of the text.
    unsigned char peek(size_t ahead = 0) const
    {
        return ahead < text_.size() - pos_ ? static_cast<unsigned char>(text_[pos_ + ahead]) : 0;
    }
    void advance(size_t count = 1) { pos_ += std::min(count, text_.size() - pos_); }
    void skipBlanks()
    {
        while (IsBlank(peek()))
            ++pos_;
    }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

// The part of the text one conversion may read: at most `width` bytes from the cursor.
// Reading through the field moves the text cursor.
class Field
{
public:
    Field(Cursor& in, uint64_t width) : in_(in), left_(width) {}

    // The byte `ahead` bytes into the field; 0 beyond the field or the text.
    unsigned char peek(uint64_t ahead = 0) const { return ahead < left_ ? in_.peek(ahead) : 0; }
    void advance(uint64_t count = 1)
    {
        count = std::min(count, left_);
        in_.advance(count);
        left_ -= count;
    }
    // Reads the next byte when there is one and it satisfies `accept`.
    template <typename Accept> bool take(Accept accept)
    {
        const unsigned char c = peek();
        if (c == 0 || !accept(c))
            return false;
        advance();
        return true;
    }

private:
    Cursor& in_;
    uint64_t left_;
};

enum class Kind { Integer, Characters, String, ScanSet, Real, Count };

struct Conversion {
    Kind kind = Kind::Integer;
    int base = 10; // for Integer; 0 chooses by the prefix in the text
    bool suppressed = false;
    uint64_t width = kUnlimited;
    std::bitset<256> set; // for ScanSet

    bool takesTarget() const
    {
        return !suppressed && (kind == Kind::Integer || kind == Kind::Count);
    }
};

// Parses the members of a "[...]" scan set, `pos` just after the "[". A "]" right after the
// opening (or after "^") is a member; "a-z" is a range unless the "-" is first or last.
bool ParseScanSet(std::string_view format, size_t& pos, std::bitset<256>& set)
{
    bool invert = false;
    if (pos < format.size() && format[pos] == '^') {
        invert = true;
        ++pos;
    }
    const size_t first = pos;
    for (;;) {
        if (pos >= format.size())
            return false;
        const auto c = static_cast<unsigned char>(format[pos]);
        if (c == ']' && pos != first) {
            ++pos;
            break;
        }
        if (c == '-' && pos != first && pos + 1 < format.size() && format[pos + 1] != ']') {
            const auto low = static_cast<unsigned char>(format[pos - 1]);
            const auto high = static_cast<unsigned char>(format[pos + 1]);
            for (unsigned v = low; v <= high; ++v)
                set.set(v);
            pos += 2;
            continue;
        }
        set.set(c);
        ++pos;
    }
    if (invert)
        set.flip();
    return true;
}

// What a conversion letter reads into `conv`; false for no conversion letter (the end of the
// format included) or a scan set that does not close.
bool SetKind(unsigned char letter, std::string_view format, size_t& pos, Conversion& conv)
{
    switch (letter) {
    case 'd':
    case 'u':
        conv.base = 10;
        return true;
    case 'x':
    case 'p':
        conv.base = 16;
        return true;
    case 'o':
        conv.base = 8;
        return true;
    case 'i':
        conv.base = 0;
        return true;
    case 'c':
        conv.kind = Kind::Characters;
        if (conv.width == kUnlimited)
            conv.width = 1;
        return true;
    case 's':
        conv.kind = Kind::String;
        return true;
    case '[':
        conv.kind = Kind::ScanSet;
        return ParseScanSet(format, pos, conv.set);
    case 'e':
    case 'f':
    case 'g':
    case 'm':
        conv.kind = Kind::Real;
        return true;
    case 'n':
        conv.kind = Kind::Count;
        return true;
    default:
        return false;
    }
}

// Parses a conversion, `pos` just after its "%". Returns nothing for an invalid conversion:
// a width of 0, an unknown letter or the format ending inside the conversion.
std::optional<Conversion> ParseConversion(std::string_view format, size_t& pos)
{
    const auto at = [&](size_t i) -> unsigned char {
        return i < format.size() ? static_cast<unsigned char>(format[i]) : 0;
    };
    Conversion conv;
    if (at(pos) == '*') {
        conv.suppressed = true;
        ++pos;
    }
    if (IsDigit(at(pos))) {
        uint64_t width = 0;
        for (; IsDigit(at(pos)); ++pos)
            width = std::min(width * 10 + (at(pos) - '0'), kWidthCap);
        if (width == 0)
            return std::nullopt;
        conv.width = width;
    }
    const unsigned char size = at(pos);
    if (size == 'h' || size == 'H' || size == 'l' || size == 'L') {
        ++pos;
        if (at(pos) == size) { // hh, ll
            ++pos;
        } else if (size == 'l' || size == 'L') { // l8 .. l64
            while (IsDigit(at(pos)))
                ++pos;
        }
    }
    const unsigned char letter = ToLower(at(pos));
    ++pos;
    if (!SetKind(letter, format, pos, conv))
        return std::nullopt;
    return conv;
}

// Reads an optionally signed integer. The sign and any prefix count against the field width.
// A "-" negates the value, also for unsigned letters; the value wraps in 64 bits.
std::optional<uint64_t> ReadInteger(Field& field, int base)
{
    bool negative = false;
    if (IsSign(field.peek())) {
        negative = field.peek() == '-';
        field.advance();
    }
    if (base == 0) {
        if (field.peek() == '$') {
            field.advance();
            base = 16;
        } else if (field.peek() == '0' && (field.peek(1) == 'x' || field.peek(1) == 'X')) {
            field.advance(2);
            base = 16;
        } else {
            // With room for only one byte the "0" of "0x" is read as an octal zero.
            base = field.peek() == '0' ? 8 : 10;
        }
    }
    uint64_t value = 0;
    bool anyDigit = false;
    for (int digit = DigitValue(field.peek()); digit < base; digit = DigitValue(field.peek())) {
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        field.advance();
        anyDigit = true;
    }
    if (!anyDigit)
        return std::nullopt;
    return negative ? 0 - value : value;
}

// Reads a real number: sign, digits with an optional decimal point, optional exponent.
// The exponent marker is read only when digits follow it inside the field.
bool ReadReal(Field& field)
{
    field.take(IsSign);
    bool anyDigit = false;
    while (field.take(IsDigit))
        anyDigit = true;
    if (field.take([](unsigned char c) { return c == '.'; })) {
        while (field.take(IsDigit))
            anyDigit = true;
    }
    if (!anyDigit)
        return false;
    if (field.peek() == 'e' || field.peek() == 'E') {
        const uint64_t marker = IsSign(field.peek(1)) ? 2 : 1;
        if (IsDigit(field.peek(marker))) {
            field.advance(marker);
            while (field.take(IsDigit)) {
            }
        }
    }
    return true;
}

// Reads the field of one conversion, storing into `target` when given.
// Returns false when the scan has to end.
bool Convert(const Conversion& conv, Cursor& in, int32_t* target)
{
    switch (conv.kind) {
    case Kind::Integer: {
        in.skipBlanks();
        if (in.atEnd())
            return false;
        Field field(in, conv.width);
        const std::optional<uint64_t> value = ReadInteger(field, conv.base);
        if (!value)
            return false;
        if (target)
            *target = LowWord(*value);
        return true;
    }
    case Kind::Characters: {
        Field field(in, conv.width);
        uint64_t count = 0;
        while (field.take([](unsigned char) { return true; }))
            ++count;
        return count == conv.width;
    }
    case Kind::String: {
        in.skipBlanks();
        if (in.atEnd())
            return false;
        Field field(in, conv.width);
        while (field.take([](unsigned char c) { return !IsBlank(c); })) {
        }
        return true;
    }
    case Kind::ScanSet: {
        Field field(in, conv.width);
        bool any = false;
        while (field.take([&](unsigned char c) { return conv.set.test(c); }))
            any = true;
        return any;
    }
    case Kind::Real: {
        in.skipBlanks();
        if (in.atEnd())
            return false;
        Field field(in, conv.width);
        return ReadReal(field);
    }
    case Kind::Count:
        if (target)
            *target = LowWord(in.consumed());
        return true;
    }
    return false;
}

} // namespace

int ScanText(const QByteArray& text, const QByteArray& format, std::span<int32_t> targets)
{
    Cursor in(UpToZero(text));
    const std::string_view fmt = UpToZero(format);
    size_t pos = 0;
    size_t nextTarget = 0;
    int stored = 0;
    while (pos < fmt.size()) {
        const auto c = static_cast<unsigned char>(fmt[pos]);
        if (IsBlank(c)) {
            while (pos < fmt.size() && IsBlank(static_cast<unsigned char>(fmt[pos])))
                ++pos;
            in.skipBlanks();
            continue;
        }
        const bool percentLiteral = c == '%' && pos + 1 < fmt.size() && fmt[pos + 1] == '%';
        if (c != '%' || percentLiteral) {
            // peek() gives 0 at the end of the text, which never equals a format byte.
            if (in.peek() != c)
                break;
            in.advance();
            pos += percentLiteral ? 2 : 1;
            continue;
        }
        ++pos;
        const std::optional<Conversion> conv = ParseConversion(fmt, pos);
        if (!conv)
            break;
        int32_t* target = nullptr;
        if (conv->takesTarget()) {
            if (nextTarget >= targets.size())
                break;
            target = &targets[nextTarget++];
        }
        if (!Convert(*conv, in, target))
            break;
        if (target && conv->kind == Kind::Integer)
            ++stored;
    }
    return stored == 0 && in.atEnd() ? -1 : stored;
}
