// Every message a peer may send or answer, decoded from arbitrary bytes: a decoder either gives
// a value or throws RpcError, and what it gives encodes and decodes back to the same.
#include "rpc/rpcerror.h"
#include "rpc/rpcprotocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QByteArray bodyOf(const QByteArray &frame)
{
    return frame.mid(4);
}

template<typename F> void expectRpcErrorOnly(F &&f)
{
    try {
        f();
    } catch (const fis::RpcError &) {
        // A refusal is a fine answer to garbage.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    expectRpcErrorOnly([&] {
        const QByteArray encoded = fis::encodeHello(fis::decodeHello(body));
        if (fis::encodeHello(fis::decodeHello(bodyOf(encoded))) != encoded)
            std::abort();
    });
    expectRpcErrorOnly([&] {
        const QByteArray encoded = fis::encodeHelloReply(fis::decodeHelloReply(body));
        if (fis::encodeHelloReply(fis::decodeHelloReply(bodyOf(encoded))) != encoded)
            std::abort();
    });
    expectRpcErrorOnly([&] { fis::decodeProof(body); });
    expectRpcErrorOnly([&] {
        // Compared as their encodings, which also holds for a NaN.
        const QByteArray encoded = fis::encodeCall(fis::decodeCall(body));
        if (fis::encodeCall(fis::decodeCall(bodyOf(encoded))) != encoded)
            std::abort();
        // The frame taken over in place gives the same call.
        QByteArray owned = body;
        if (fis::encodeCall(fis::decodeCall(std::move(owned))) != encoded)
            std::abort();
    });
    expectRpcErrorOnly([&] {
        const QByteArray encoded = fis::encodeAnswer(fis::decodeAnswer(body));
        if (fis::encodeAnswer(fis::decodeAnswer(bodyOf(encoded))) != encoded)
            std::abort();
    });
    return 0;
}
