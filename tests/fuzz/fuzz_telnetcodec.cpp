#include "fuzzsupport.h"
#include "telnetcodec.h"

#include <QByteArray>

namespace {

// The data a Telnet stream holds, read in one pass over all of it with look-ahead, by the
// decoder's rules: IAC IAC is 0xFF; IAC WILL/WONT/DO/DONT takes an option; IAC SB runs to
// IAC SE, or to an IAC with any other command, which then counts as that command; any other
// IAC x is a command; CR NUL is CR while the sender's BINARY (its WILL, until its WONT) is not
// in force. What the stream leaves open at its end gives no data.
QByteArray referenceData(const QByteArray &stream)
{
    const auto at = [&](int i) { return quint8(stream.at(i)); };
    const int n = stream.size();
    QByteArray data;
    bool binary = false;
    bool afterCr = false;
    int i = 0;
    while (i < n) {
        if (at(i) != Telnet::Iac) {
            if (!(at(i) == 0 && afterCr && !binary))
                data.append(stream.at(i));
            afterCr = at(i) == '\r';
            ++i;
            continue;
        }
        if (i + 1 >= n)
            break;
        const quint8 command = at(i + 1);
        if (command == Telnet::Iac) {
            data.append(char(Telnet::Iac));
            afterCr = false;
            i += 2;
        } else if (command >= Telnet::Will) {
            if (i + 2 >= n)
                break;
            if (at(i + 2) == Telnet::OptionBinary && command == Telnet::Will)
                binary = true;
            if (at(i + 2) == Telnet::OptionBinary && command == Telnet::Wont)
                binary = false;
            i += 3;
        } else if (command == Telnet::Sb) {
            int j = i + 2;
            while (j + 1 < n && !(at(j) == Telnet::Iac && at(j + 1) != Telnet::Iac))
                j += at(j) == Telnet::Iac ? 2 : 1;
            if (j + 1 >= n)
                break; // still inside it
            i = at(j + 1) == Telnet::Se ? j + 2 : j;
        } else {
            i += 2;
        }
    }
    return data;
}

} // namespace

// The first byte chooses how the rest is cut into pieces; the rest is what a server sends.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray stream(reinterpret_cast<const char *>(bytes + 1), int(size - 1));
    const unsigned longest = 1 + bytes[0] % 64;
    unsigned cut = bytes[0];

    TelnetDecoder whole;
    const TelnetDecoder::Output once = whole.feed(stream);
    TelnetDecoder decoder;
    TelnetDecoder::Output pieces;
    int done = 0;
    while (done < stream.size()) {
        cut = cut * 1103515245u + 12345u;
        const int piece = qMin(stream.size() - done, int(1 + (cut >> 16) % longest));
        const int before = pieces.data.size();
        decoder.feed(stream.constData() + done, piece, pieces);
        done += piece;
        FUZZ_CHECK(decoder.pendingBytes() >= 0
                   && decoder.pendingBytes() <= TelnetDecoder::maxSubnegotiation);
        FUZZ_CHECK(pieces.data.size() - before <= piece);
    }
    FUZZ_CHECK(once.data == referenceData(stream));
    FUZZ_CHECK(pieces.data == once.data);
    FUZZ_CHECK(pieces.events == once.events);
    FUZZ_CHECK(whole.senderBinary() == decoder.senderBinary());
    // Every event stands for at least two bytes of the stream.
    FUZZ_CHECK(once.events.size() <= stream.size() / 2);
    return 0;
}
