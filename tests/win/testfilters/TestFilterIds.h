// Class ids and settings of the fault-injecting test filters, shared by the DLL and the tests.
#pragma once

#include <windows.h>

#include <string>

// Each kind is one class {6B0E5A10-4B2A-4C3E-9D6A-5B1E2F7C0Ann}, nn the kind's number.
enum TestFilterKind : unsigned char {
    kFailCreate = 1,     // the class factory refuses to create it
    kNoPins = 2,         // a filter without pins
    kPass = 3,           // one input accepting anything, one output offering type A
    kMuxLike = 4,        // a new free input after each connection, one output offering type A
    kRefuseInput = 5,    // the input refuses every type (negative QueryAccept and ReceiveConnection)
    kSFalseInput = 6,    // the input answers QueryAccept with S_FALSE, then accepts the connection
    kSecondInput = 7,    // first input accepts nothing, second accepts anything
    kNoTypesOutput = 8,  // one output that offers no media types
    kTwoOutputs = 9,     // outputs offering type A and type B
    kAcceptsOnlyA = 10,  // growing inputs that accept only type A
    kAcceptsOnlyB = 11,  // growing inputs that accept only type B
    kRunFails = 12,      // like kPass, but Pause and Run fail: the graph cannot run
    kJoinFails = 13,     // like kPass, but refuses to join a graph (AddFilter fails)
    kNoDirection =
        14,  // first input cannot tell its direction (QueryDirection fails), second accepts anything
    kLyingOutput = 15,    // like kPass, but the output's Connect reports success and stays unconnected
    kNullPin = 16,        // like kPass, but its first pin enumerator's Next gives S_OK and a null pin
                          // (later ones are sound, so that the graph manager can still remove it)
    kNullMediaType = 17,  // like kPass, but the output's type enumerator gives S_OK and a null type
    kTypesHeld = 18,      // like kPass, but the output refuses to connect while an enumerator is held
};
inline constexpr int kLastTestFilterKind = kTypesHeld;

inline CLSID TestFilterClass(TestFilterKind kind) {
    return CLSID{0x6B0E5A10,
                 0x4B2A,
                 0x4C3E,
                 {0x9D, 0x6A, 0x5B, 0x1E, 0x2F, 0x7C, 0x0A, static_cast<unsigned char>(kind)}};
}

// Subtypes offered by the outputs (major type MEDIATYPE_Stream).
inline const GUID kSubtypeA = {0x6B0E5A11, 0x4B2A, 0x4C3E, {0x9D, 0x6A, 0x5B, 0x1E, 0x2F, 0x7C, 0x0B, 0x01}};
inline const GUID kSubtypeB = {0x6B0E5A11, 0x4B2A, 0x4C3E, {0x9D, 0x6A, 0x5B, 0x1E, 0x2F, 0x7C, 0x0B, 0x02}};

// The stand-in file dump, registered under the fixed file-dump class only in a private prefix
// (regsvr32 /n /i:fixed). It reads its behaviour from REG_DWORD values under this key when
// it is created:
//   createFails, noSink, nameFails, refuseInput, joinFails: 1 to fail that step
//   chunks, intervalMs: after Run, writes chunks of 20,000 bytes every intervalMs
//   errorHr: non-zero: posts EC_ERRORABORT with it after the chunks, before EC_COMPLETE
//   stepped: 1 to write each chunk only when the test sets the step event, not by the clock
//   stillPlaying: an event code (EC_ERROR_STILLPLAYING, EC_STREAM_ERROR_STILLPLAYING) posted
//                 after the chunks, before EC_COMPLETE
// When a test points CLSID_FilterGraph's server at this DLL, the DLL serves a graph manager
// without IMediaControl if graphWithoutControl is 1 under the same key, and nothing otherwise.
inline constexpr char kStandInDumpKey[] = "Software\\Halvenor\\KorvaneTestDump";

// Events between a test and the stand-in dump in its process, when the test has made them:
//   "Step" (auto-reset), set by the test: write the next chunk (with stepped = 1)
//   "Written", set by the dump once a chunk is on disk
//   "Ended", set by the dump once it has posted its last event
inline std::string StandInEventName(const char* what) {
    return std::string("KorvaneTestDump") + what + "-" + std::to_string(GetCurrentProcessId());
}
