// The plug-in's binary interface as a host meets it: the built module is loaded by path, and the
// effect record and the event lists handed to the host callback are read as raw bytes at the
// offsets of this build's pointer width (144-byte record with 4-byte pointers, 192 bytes with
// 8-byte pointers). Nothing of the plug-in's own headers is used.
#include "layout/module_loader.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#ifndef QUILLMONT_PATH
#error "QUILLMONT_PATH must name the built plug-in module"
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPointer = sizeof(void*);
static_assert(kPointer == 4 || kPointer == 8, "only 32-bit and 64-bit builds exist");
constexpr bool k64 = kPointer == 8;
constexpr std::size_t kRecordSize = k64 ? 192 : 144;
constexpr std::size_t kAbsent = std::numeric_limits<std::size_t>::max();

// Host-side opcode numbers used here.
constexpr std::int32_t effClose = 1;
constexpr std::int32_t effMainsChanged = 12;
constexpr std::int32_t effGetVendorString = 47;
constexpr std::int32_t effCanDo = 51;
constexpr std::int32_t audioMasterVersion = 1;
constexpr std::int32_t audioMasterWantMidi = 6;
constexpr std::int32_t audioMasterProcessEvents = 8;

Bytes le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

Bytes zeros(std::size_t n) {
    return Bytes(n, 0);
}

Bytes bytesAt(const void* base, std::size_t offset, std::size_t count) {
    const auto* p = static_cast<const std::uint8_t*>(base) + offset;
    return Bytes(p, p + count);
}

void* pointerAt(const void* base, std::size_t offset) {
    void* p = nullptr;
    std::memcpy(&p, static_cast<const std::uint8_t*>(base) + offset, sizeof p);
    return p;
}

template <class T>
T fieldAt(const void* base, std::size_t offset) {
    T value{};
    std::memcpy(&value, static_cast<const std::uint8_t*>(base) + offset, sizeof value);
    return value;
}

// What one stretch of the record must hold.
enum class Holds {
    Exactly,    // the bytes given, in memory order
    CodeInside, // a function address inside the loaded module
    NonNull,    // a pointer that is not null
    Padding,    // alignment padding of the 64-bit layout: not read by hosts
};

struct Field {
    const char* name;
    std::size_t offset32; // kAbsent where the 32-bit layout has no such stretch
    std::size_t offset64;
    std::size_t width32;
    std::size_t width64;
    Holds holds;
    Bytes expected; // for Holds::Exactly: the bytes of this build's width
};

std::size_t offsetOf(const Field& f) {
    return k64 ? f.offset64 : f.offset32;
}
std::size_t widthOf(const Field& f) {
    return k64 ? f.width64 : f.width32;
}

// The record this plug-in hands out, field by field, for both pointer widths.
std::vector<Field> recordFields() {
    const Bytes nullPointer = zeros(kPointer);
    return {
        {"magic 'VstP'", 0, 0, 4, 4, Holds::Exactly, {'P', 't', 's', 'V'}},
        {"padding after magic", kAbsent, 4, 0, 4, Holds::Padding, {}},
        {"dispatcher", 4, 8, 4, 8, Holds::CodeInside, {}},
        {"process", 8, 16, 4, 8, Holds::CodeInside, {}},
        {"setParameter", 12, 24, 4, 8, Holds::CodeInside, {}},
        {"getParameter", 16, 32, 4, 8, Holds::CodeInside, {}},
        {"numPrograms", 20, 40, 4, 4, Holds::Exactly, le32(1)},
        {"numParams", 24, 44, 4, 4, Holds::Exactly, le32(7)},
        {"numInputs", 28, 48, 4, 4, Holds::Exactly, le32(0)},
        {"numOutputs", 32, 52, 4, 4, Holds::Exactly, le32(0)},
        {"flags 280", 36, 56, 4, 4, Holds::Exactly, {0x18, 0x01, 0x00, 0x00}},
        {"padding after flags", kAbsent, 60, 0, 4, Holds::Padding, {}},
        {"resvd1", 40, 64, 4, 8, Holds::Exactly, nullPointer},
        {"resvd2", 44, 72, 4, 8, Holds::Exactly, nullPointer},
        {"initialDelay", 48, 80, 4, 4, Holds::Exactly, le32(0)},
        {"realQualities", 52, 84, 4, 4, Holds::Exactly, le32(0)},
        {"offQualities", 56, 88, 4, 4, Holds::Exactly, le32(0)},
        {"ioRatio 1.0f", 60, 92, 4, 4, Holds::Exactly, {0x00, 0x00, 0x80, 0x3F}},
        {"object", 64, 96, 4, 8, Holds::NonNull, {}},
        {"user", 68, 104, 4, 8, Holds::Exactly, nullPointer},
        {"uniqueID 'quil'", 72, 112, 4, 4, Holds::Exactly, {'l', 'i', 'u', 'q'}},
        {"version", 76, 116, 4, 4, Holds::Exactly, le32(1)},
        {"processReplacing", 80, 120, 4, 8, Holds::CodeInside, {}},
        {"future", 84, 128, 60, 60, Holds::Exactly, zeros(60)},
        {"padding at the end", kAbsent, 188, 0, 4, Holds::Padding, {}},
    };
}

// Everything the host callback saw, with copies of what the plug-in pointed at.
struct HostCall {
    void* effect;
    std::int32_t opcode;
    std::int32_t index;
    std::intptr_t value;
    void* ptr;
    float opt;
    Bytes list;  // audioMasterProcessEvents: the event list's four pointer-width slots
    Bytes event; // audioMasterProcessEvents: the 32 bytes its first entry points at
};

std::vector<HostCall>& hostCalls() {
    static std::vector<HostCall> calls;
    return calls;
}

std::intptr_t LAYOUT_CDECL recordingHost(void* effect, std::int32_t opcode, std::int32_t index,
                                         std::intptr_t value, void* ptr, float opt) {
    HostCall call{effect, opcode, index, value, ptr, opt, {}, {}};
    if (opcode == audioMasterProcessEvents && ptr != nullptr) {
        call.list = bytesAt(ptr, 0, 4 * kPointer);
        if (void* first = pointerAt(ptr, 2 * kPointer); first != nullptr) {
            call.event = bytesAt(first, 0, 32);
        }
    }
    hostCalls().push_back(call);
    switch (opcode) {
    case audioMasterVersion:
        return 2400;
    case audioMasterProcessEvents:
        return 1;
    default:
        return 0;
    }
}

class RecordLayout : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module = std::make_unique<layout::Module>(QUILLMONT_PATH); }
    static void TearDownTestSuite() { module.reset(); }

    void SetUp() override {
        ASSERT_TRUE(module->loaded()) << QUILLMONT_PATH << ": " << module->error();
        hostCalls().clear();
    }
    void TearDown() override {
        for (void* record : open_) {
            dispatcher(record)(record, effClose, 0, 0, nullptr, 0.0f);
        }
    }

    // A new instance through the named entry; closed at the end of the test unless closed before.
    void* create(const char* entryName = "VSTPluginMain") {
        layout::EntryProc entry = module->entry(entryName);
        if (entry == nullptr) {
            ADD_FAILURE() << entryName << " is not exported";
            return nullptr;
        }
        void* record = entry(recordingHost);
        if (record != nullptr) {
            open_.push_back(record);
        }
        return record;
    }
    std::intptr_t close(void* record) {
        std::erase(open_, record);
        return dispatcher(record)(record, effClose, 0, 0, nullptr, 0.0f);
    }

    static layout::DispatcherProc dispatcher(void* record) {
        return reinterpret_cast<layout::DispatcherProc>(pointerAt(record, kPointer));
    }
    static layout::ProcessProc process(void* record) {
        return reinterpret_cast<layout::ProcessProc>(pointerAt(record, 2 * kPointer));
    }
    static layout::SetParameterProc setParameter(void* record) {
        return reinterpret_cast<layout::SetParameterProc>(pointerAt(record, 3 * kPointer));
    }
    static layout::GetParameterProc getParameter(void* record) {
        return reinterpret_cast<layout::GetParameterProc>(pointerAt(record, 4 * kPointer));
    }
    static layout::ProcessProc processReplacing(void* record) {
        return reinterpret_cast<layout::ProcessProc>(pointerAt(record, k64 ? 120 : 80));
    }

    static std::vector<HostCall> callsWith(std::int32_t opcode) {
        std::vector<HostCall> found;
        for (const HostCall& call : hostCalls()) {
            if (call.opcode == opcode) {
                found.push_back(call);
            }
        }
        return found;
    }

    static std::unique_ptr<layout::Module> module;

private:
    std::vector<void*> open_;
};

std::unique_ptr<layout::Module> RecordLayout::module;

TEST_F(RecordLayout, FieldTableCoversTheWholeRecordWithoutGaps) {
    std::size_t next = 0;
    for (const Field& field : recordFields()) {
        if (offsetOf(field) == kAbsent) {
            continue;
        }
        SCOPED_TRACE(field.name);
        EXPECT_EQ(offsetOf(field), next);
        if (field.holds == Holds::Exactly) {
            EXPECT_EQ(field.expected.size(), widthOf(field));
        }
        next = offsetOf(field) + widthOf(field);
    }
    EXPECT_EQ(next, kRecordSize);
}

TEST_F(RecordLayout, EveryFieldHoldsItsBytesAtItsOffset) {
    void* record = create();
    ASSERT_NE(record, nullptr);
    for (const Field& field : recordFields()) {
        const std::size_t offset = offsetOf(field);
        if (offset == kAbsent) {
            continue;
        }
        SCOPED_TRACE(std::string(field.name) + " at offset " + std::to_string(offset));
        switch (field.holds) {
        case Holds::Exactly:
            EXPECT_EQ(bytesAt(record, offset, widthOf(field)), field.expected);
            break;
        case Holds::CodeInside:
            EXPECT_TRUE(module->contains(pointerAt(record, offset)));
            break;
        case Holds::NonNull:
            EXPECT_NE(pointerAt(record, offset), nullptr);
            break;
        case Holds::Padding:
            break;
        }
    }
    EXPECT_EQ(fieldAt<std::uint32_t>(record, 0), 0x56737450u);
    EXPECT_EQ(fieldAt<std::uint32_t>(record, k64 ? 112 : 72), 0x7175696Cu);
}

TEST_F(RecordLayout, BothEntryNamesCreateIndependentInstances) {
    void* fromVstPluginMain = create("VSTPluginMain");
    void* fromMain = create("main");
    ASSERT_NE(fromVstPluginMain, nullptr);
    ASSERT_NE(fromMain, nullptr);
    EXPECT_NE(fromVstPluginMain, fromMain);
    EXPECT_EQ(bytesAt(fromMain, 0, 4), (Bytes{'P', 't', 's', 'V'}));
    const std::size_t objectOffset = k64 ? 96 : 64;
    EXPECT_NE(pointerAt(fromVstPluginMain, objectOffset), pointerAt(fromMain, objectOffset));

    // Closing one answers 1 and leaves the other working.
    EXPECT_EQ(close(fromVstPluginMain), 1);
    char vendor[64] = {};
    EXPECT_EQ(dispatcher(fromMain)(fromMain, effGetVendorString, 0, 0, vendor, 0.0f), 1);
    EXPECT_STREQ(vendor, "KOVA");
}

TEST_F(RecordLayout, RecordFunctionsPassArgumentsAndAnswersWhole) {
    void* record = create();
    ASSERT_NE(record, nullptr);
    layout::DispatcherProc dispatch = dispatcher(record);

    // A pointer-sized -1 reaches the host whole, not as a zero-extended 32-bit value.
    char cannot[] = "receiveVstEvents";
    const std::intptr_t no = dispatch(record, effCanDo, 0, 0, cannot, 0.0f);
    EXPECT_EQ(no, -1);
    EXPECT_EQ(static_cast<std::uintptr_t>(no), std::numeric_limits<std::uintptr_t>::max());
    char can[] = "sendVstEvents";
    EXPECT_EQ(dispatch(record, effCanDo, 0, 0, can, 0.0f), 1);

    // Float answers and float arguments through the plain function fields.
    const float note = getParameter(record)(record, 6);
    EXPECT_EQ(fieldAt<std::uint32_t>(&note, 0), 0x3EF1E3C8u);
    setParameter(record)(record, 2, 0.25f);
    EXPECT_EQ(getParameter(record)(record, 2), 0.25f);
    EXPECT_EQ(getParameter(record)(record, 7), 0.0f);
}

TEST_F(RecordLayout, HostCallbackGetsTheVersionQueryThenRequestsForThisRecord) {
    void* record = create();
    ASSERT_NE(record, nullptr);
    ASSERT_FALSE(hostCalls().empty());
    const HostCall& first = hostCalls().front();
    EXPECT_EQ(first.effect, nullptr);
    EXPECT_EQ(first.opcode, audioMasterVersion);
    EXPECT_EQ(first.index, 0);
    EXPECT_EQ(first.value, 0);
    EXPECT_EQ(first.ptr, nullptr);
    EXPECT_EQ(first.opt, 0.0f);

    dispatcher(record)(record, effMainsChanged, 0, 1, nullptr, 0.0f);
    const std::vector<HostCall> wantMidi = callsWith(audioMasterWantMidi);
    ASSERT_EQ(wantMidi.size(), 1u);
    EXPECT_EQ(wantMidi[0].effect, record);
    EXPECT_EQ(wantMidi[0].value, 1);
}

TEST_F(RecordLayout, EventListsReachTheHostInThePlatformLayout) {
    void* record = create();
    ASSERT_NE(record, nullptr);
    dispatcher(record)(record, effMainsChanged, 0, 1, nullptr, 0.0f);

    // The first interval is at most one second at 44100 Hz: a block that long carries a note.
    constexpr std::int32_t kFrames = 44100;
    float* none[1] = {nullptr};
    struct Entry {
        const char* name;
        layout::ProcessProc run;
    };
    for (const Entry& entry :
         {Entry{"processReplacing", processReplacing(record)}, Entry{"process", process(record)}}) {
        SCOPED_TRACE(entry.name);
        hostCalls().clear();
        entry.run(record, none, none, kFrames);
        const std::vector<HostCall> lists = callsWith(audioMasterProcessEvents);
        ASSERT_GE(lists.size(), 2u);
        ASSERT_EQ(lists.size() % 2, 0u) << "notes come as pairs of events";
        for (std::size_t i = 0; i < lists.size(); ++i) {
            SCOPED_TRACE("event " + std::to_string(i));
            const HostCall& call = lists[i];
            EXPECT_EQ(call.effect, record);
            ASSERT_EQ(call.list.size(), 4 * kPointer);
            // numEvents, then reserved, events[0] and events[1] in pointer-width slots.
            EXPECT_EQ(bytesAt(call.list.data(), 0, 4), le32(1));
            EXPECT_EQ(bytesAt(call.list.data(), kPointer, kPointer), zeros(kPointer));
            EXPECT_NE(pointerAt(call.list.data(), 2 * kPointer), nullptr);
            EXPECT_EQ(bytesAt(call.list.data(), 3 * kPointer, kPointer), zeros(kPointer));

            ASSERT_EQ(call.event.size(), 32u);
            EXPECT_EQ(bytesAt(call.event.data(), 0, 4), le32(1));  // type: MIDI
            EXPECT_EQ(bytesAt(call.event.data(), 4, 4), le32(24)); // byteSize
            const auto delta = fieldAt<std::int32_t>(call.event.data(), 8);
            EXPECT_GE(delta, 1);
            EXPECT_LE(delta, kFrames);
            EXPECT_EQ(bytesAt(call.event.data(), 12, 12), zeros(12)); // flags, length, offset
            EXPECT_EQ(call.event[24], 0x90);                          // note-on, channel 1
            EXPECT_EQ(call.event[25], 60);                            // the default key
            if (i % 2 == 0) {
                EXPECT_EQ(call.event[26], 0) << "a note starts by ending the previous one";
            } else {
                EXPECT_GE(call.event[26], 46);
                EXPECT_LE(call.event[26], 127);
            }
            EXPECT_EQ(bytesAt(call.event.data(), 27, 5), zeros(5));
        }
    }
}

} // namespace
