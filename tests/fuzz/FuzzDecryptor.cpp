// The program stream decryptor over arbitrary bytes: it must never crash, never let a
// scrambled packet through, and give the same output whatever the chunking. Whatever the
// encryptor accepts must decrypt back to exactly the input.
#include "FuzzCommon.h"
#include "media/ProgramStreamDecryptor.h"

using namespace korvane::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // Tiny chunks now and then (every unit straddles), mostly powers of two up to 64 KiB.
    const size_t chunk = (data[0] & 0x80) ? 1 + data[0] % 13 : size_t(1) << (data[0] % 17);
    const Bytes input(data + 1, data + size);
    const Bytes whole = Decrypt<ProgramStreamDecryptor>(Keys(), input, input.size() ? input.size() : 1);
    if (Decrypt<ProgramStreamDecryptor>(Keys(), input, chunk) != whole) __builtin_trap();
    Record record;
    ProgramStreamReader reader;
    reader.Feed(whole.data(), whole.size(), record);
    reader.Finish(record);
    if (reader.Status() == ReaderStatus::Encrypted) __builtin_trap();
    EncryptAndBack<ProgramStreamEncryptor, ProgramStreamDecryptor>(Keys(), input, 1 + data[0] % 5, chunk);
    return 0;
}
