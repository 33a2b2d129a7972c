// The two waits for loader texts over arbitrary received bytes: the bytes are
// in the port's receive ring when the wait starts, and the loader then falls
// silent.
//
// Input: a mode byte (pair wait or between wait, and a capacity), up to four
// texts (a length byte and the text each), then the received bytes.
// Oracles: the pair wait reports success exactly when both success texts
// came (or failure when only the failure pair came), and silence when
// neither pair came; the between wait hands over exactly the bytes between
// the first start text and the first end text after it, cut to the caller's
// capacity, and leaves every byte after the end text in the ring.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "link/response.h"

namespace {

bool Has(const std::string& stream, const std::string& text) {
  return !text.empty() && stream.find(text) != std::string::npos;
}

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  const uint8_t mode = input.Byte();
  // Texts as short as the loader's prompts; a zero byte would end them early.
  std::string texts[4];
  for (std::string& text : texts) {
    text = input.Text(24);
    text = text.substr(0, text.find('\0'));
  }
  // What fits the ring at once.
  const std::string stream = input.Bytes(RingBuffer::kSize - 96);

  PortSession& session = fuzz::Station::Instance().Fresh().Session();
  fuzz::Check(session.m_rxBuffer.Write(reinterpret_cast<const uint8_t*>(stream.data()),
                                     static_cast<unsigned>(stream.size())),
              "the bytes fit the ring");
  session.m_hDataEvent->Set();

  if ((mode & 1) == 0) {
    const std::string& successA = texts[0];
    const std::string& successB = texts[1];
    const std::string& failureA = texts[2];
    const std::string& failureB = texts[3];
    if (successA.empty()) return 0;
    const UpdateStatus result =
        WaitForPair(session, 0, Expect{{successA.c_str(), OrNull(successB)},
                                   {OrNull(failureA), OrNull(failureB)}});
    const bool success = Has(stream, successA) && (successB.empty() || Has(stream, successB));
    const bool failure = Has(stream, failureA) && (failureB.empty() || Has(stream, failureB));
    if (result == UPD_OK) {
      fuzz::Check(success, "success only when both success texts came");
    } else if (result == UPD_FAIL_MATCH) {
      fuzz::Check(failure, "failure only when the failure pair came");
    } else {
      fuzz::Check(result == UPD_TIMEOUT, "a silent loader is a time-out");
      fuzz::Check(!success && !failure, "a pair that came is not missed");
    }
    return 0;
  }

  const std::string& start = texts[0];
  const std::string& end = texts[1];
  if (start.empty() || end.empty()) return 0;
  const size_t capacity = mode >> 1;
  std::vector<uint8_t> out(capacity + 1, 0xA5);
  size_t copied = 12345;
  const UpdateStatus result = WaitBetween(session, 0, out.data(), capacity, start.c_str(), end.c_str(), &copied);
  const size_t startAt = stream.find(start);
  const size_t endAt = startAt == std::string::npos ? std::string::npos : stream.find(end, startAt + start.size());
  if (endAt == std::string::npos) {
    fuzz::Check(result == UPD_TIMEOUT, "no reply without both texts");
    fuzz::Check(copied == 0, "nothing handed over");
    fuzz::Check(session.m_rxBuffer.Count() == 0, "every byte looked at");
    return 0;
  }
  fuzz::Check(result == UPD_OK, "a reply between the texts is found");
  const size_t from = startAt + start.size();
  const size_t length = std::min(endAt - from, capacity);
  fuzz::Check(copied == length, "the reply's length, cut to the capacity");
  fuzz::Check(std::string(out.begin(), out.begin() + static_cast<long>(length)) == stream.substr(from, length),
              "the reply's bytes");
  fuzz::Check(std::all_of(out.begin() + static_cast<long>(length), out.end(), [](uint8_t b) { return b == 0xA5; }),
              "nothing written beyond the reply");
  fuzz::Check(session.m_rxBuffer.Count() == stream.size() - (endAt + end.size()), "what follows the end text stays");
  return 0;
}
