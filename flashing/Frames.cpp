#include "Frames.h"

Byte FrameChecksum(std::span<const Byte> bytes) {
    Byte check = 0;
    for (Byte b : bytes) check ^= b;
    return check;
}

std::string ReplyWord(Byte reply) {
    switch (reply) {
        case kReplyCrc:
            return "CRC";
        case kReplyProcess:
            return "PROCES";
        case kReplyLock:
            return "LOCK";
        default:
            return {};
    }
}

std::string HexByte(Byte value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[value >> 4], kDigits[value & 0x0F]};
}
