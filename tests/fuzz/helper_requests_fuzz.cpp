// Any byte stream sent to the helper ends in a clean return, having made only
// the whole, valid requests at the start of the stream, each as it was sent.
#include "Requests.h"

#include <cstdlib>

namespace {

struct Bytes : helper::Channel {
    const std::uint8_t *data;
    std::size_t size;
    std::size_t used = 0;
    std::size_t answers = 0;
    Bytes(const std::uint8_t *d, std::size_t s) : data(d), size(s) {}

    bool readExactly(std::uint8_t *bytes, std::size_t wanted) override
    {
        const std::size_t n = wanted < size - used ? wanted : size - used;
        for (std::size_t i = 0; i < n; ++i)
            bytes[i] = data[used + i];
        used += n;
        return n == wanted;
    }
    // A peer that goes away now and then.
    bool write(const std::uint8_t (&)[helper::answerSize]) override { return ++answers % 97 != 0; }
};

// Each access must be the request that starts where the last one ended, on
// a port it allows (every other one).
struct Checked : helper::Ports {
    Bytes &sent;
    explicit Checked(Bytes &b) : sent(b) {}

    const std::uint8_t *request(std::uint8_t operation, std::uint16_t port) const
    {
        const std::uint8_t *r = sent.data + sent.used - helper::requestSize;
        if (sent.used % helper::requestSize != 0 || r[0] != operation || (r[1] | r[2] << 8) != port)
            std::abort();
        return r;
    }
    [[nodiscard]] bool allows(std::uint16_t port) const override { return port % 2 == 0; }
    void out(std::uint16_t port, std::uint8_t value) override
    {
        if (!allows(port) || request(helper::Out, port)[3] != value)
            std::abort();
    }
    std::uint8_t in(std::uint16_t port) override
    {
        if (!allows(port) || request(helper::In, port)[3] != 0)
            std::abort();
        return static_cast<std::uint8_t>(port);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Bytes bytes(data, size);
    Checked ports(bytes);
    const helper::End end = helper::serve(bytes, ports);
    if (end == helper::End::EndOfInput && bytes.used != size)
        std::abort();
    return 0;
}
