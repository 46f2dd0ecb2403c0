#include "frame/allocation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quor/memory.h"

namespace hair {
namespace {

// The debug text is ASCII: each UTF-16 unit narrowed to its low byte.
std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

TEST(Allocation, FailureReportsHeapAndRaises) {
    std::vector<std::string> lines;
    quor::setDebugCapture([&](const std::u16string& s) { lines.push_back(narrow(s)); });
    quor::vmallocFailNext(1);
    std::string text;
    try {
        libAlloc(12345);
    } catch (const ExceptionMsg& e) {
        text = e.text();
    }
    quor::setDebugCapture(nullptr);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "[operator new] failed (size is 12345)\n");
    EXPECT_EQ(lines[1], "[getFreeHeapMemory] Getting free heap memory.\n");
    EXPECT_EQ(lines[2].rfind("[getFreeHeapMemory] heapstatus=", 0), 0u);
    EXPECT_EQ(lines[3].rfind("[getFreeHeapMemory] Number of blocks visited: ", 0), 0u);
    EXPECT_EQ(text.rfind("Memory allocation failure; 12345 bytes requested; ", 0), 0u) << text;
    EXPECT_NE(text.find(" bytes already in heap; "), std::string::npos);
    EXPECT_NE(text.find(" bytes free heap space."), std::string::npos);
}

TEST(Allocation, ExceptionTextIsBoundedAndCopiedWhole) {
    std::string longText(3000, 'x');
    ExceptionMsg e("%s", longText.c_str());
    EXPECT_EQ(std::string(e.text()).size(), 1023u);
    ExceptionMsg copy = e;
    EXPECT_STREQ(copy.text(), e.text());
}

TEST(Allocation, AlignedBlocksKeepTheirHostAddress) {
    for (std::size_t size : {1u, 7u, 100u, 4096u}) {
        std::vector<void*> blocks;
        for (int i = 0; i < 64; ++i) {
            void* p = libAllocAligned(size);
            ASSERT_NE(p, nullptr);
            auto addr = reinterpret_cast<std::uintptr_t>(p);
            EXPECT_EQ(addr % 128, 0u);
            auto block = reinterpret_cast<std::uintptr_t>(static_cast<char**>(p)[-1]);
            EXPECT_LE(block + 8, addr);                 // the stored address lies inside the block
            EXPECT_LE(addr + size, block + size + 256); // and so does the array
            blocks.push_back(p);
        }
        for (void* p : blocks)
            libFreeAligned(p);
    }
    libFreeAligned(nullptr);
    quor::vmallocFailNext(1);
    EXPECT_EQ(libAllocAligned(64), nullptr); // refused quietly
}

std::u16string convert(const std::string& s) {
    std::size_t n = utf8ToUtf16(s.c_str(), nullptr, 0);
    std::u16string out(n, u'\0');
    EXPECT_EQ(utf8ToUtf16(s.c_str(), out.data(), n), n);
    return out;
}

TEST(Allocation, Utf8ToUtf16KeepsEveryByte) {
    EXPECT_EQ(convert("abc"), u"abc");
    EXPECT_EQ(convert("\xC3\xA9"), std::u16string(1, 0x00E9));
    EXPECT_EQ(convert("\xFF"), (std::u16string{0xDBC0, 0xDCFF}));
    EXPECT_EQ(convert("\x80"), (std::u16string{0xDBC0, 0xDC80}));                     // lone continuation
    EXPECT_EQ(convert("\xC0\x80"), (std::u16string{0xDBC0, 0xDCC0, 0xDBC0, 0xDC80})); // overlong
    EXPECT_EQ(convert("\xE2\x82\xAC"), std::u16string(1, 0x20AC));                    // euro sign
    EXPECT_EQ(convert("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));         // surrogate pair
    EXPECT_EQ(convert("\xC3\x41"), (std::u16string{0xDBC0, 0xDCC3, u'A'}));           // truncated sequence
    EXPECT_EQ(convert("\xF4\x80\x80\x80").size(), 8u); // U+100000 is refused byte by byte
}

} // namespace
} // namespace hair
