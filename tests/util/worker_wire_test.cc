#include "util/worker_wire.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(WorkerWire, RecordLayoutIsCodeTypePathMessageThenZeros) {
  auto bytes = wire::encode_record('G', 'J', "/p/a.jpg", "ok");
  ASSERT_TRUE(bytes);
  std::string expected = std::string("GJ/p/a.jpg") + '\0' + "ok" + '\0';
  EXPECT_EQ(std::string(bytes->data(), expected.size()), expected);
  for (size_t i = expected.size(); i < wire::kRecordSize; ++i) ASSERT_EQ((*bytes)[i], 0) << i;
  auto back = wire::decode_record(bytes->data(), bytes->size());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->code, 'G');
  EXPECT_EQ(back->type, 'J');
  EXPECT_EQ(back->path, "/p/a.jpg");
  EXPECT_EQ(back->message, "ok");
}

TEST(WorkerWire, PathPlusMessageOf508FitsAnd509DoesNot) {
  std::string path(300, 'p');
  EXPECT_TRUE(wire::encode_record('B', '?', path, std::string(208, 'm')));
  EXPECT_FALSE(wire::encode_record('B', '?', path, std::string(209, 'm')));
  auto full = wire::encode_record('B', '?', path, std::string(208, 'm'));
  auto back = wire::decode_record(full->data(), full->size());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->message.size(), 208u);
}

TEST(WorkerWire, CountRecordCarriesTheLowByte) {
  EXPECT_EQ(static_cast<unsigned char>(wire::encode_count_record(1)[1]), 1);
  EXPECT_EQ(static_cast<unsigned char>(wire::encode_count_record(200)[1]), 200);
  auto back = wire::decode_record(wire::encode_count_record(10).data(), wire::kRecordSize);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->code, 'N');
  EXPECT_EQ(back->type, 10);
  EXPECT_EQ(back->path, "");
}

TEST(WorkerWire, RecordsWithoutTerminatorsAreGarbled) {
  wire::RecordBytes bytes;
  bytes.fill('x');
  EXPECT_FALSE(wire::decode_record(bytes.data(), bytes.size()));
  bytes[300] = '\0';  // a path ends, the message never does
  EXPECT_FALSE(wire::decode_record(bytes.data(), bytes.size()));
  bytes[511] = '\0';
  EXPECT_TRUE(wire::decode_record(bytes.data(), bytes.size()));
  EXPECT_FALSE(wire::decode_record(bytes.data(), 511));
}

TEST(WorkerWire, RequestBytesAreCountModeAndLines) {
  std::string bytes = wire::encode_request("internal", {"/a.jpg", "/b c.tif"});
  EXPECT_EQ(bytes, std::string("\x02\x00\x00\x00", 4) + "internal\n/a.jpg\n/b c.tif\n");
  EXPECT_EQ(wire::encode_request_with_count(-1, "x", {}).substr(0, 4), std::string("\xff\xff\xff\xff", 4));
}

TEST(WorkerWire, TypeLettersFollowTheTypeCodes) {
  EXPECT_EQ(std::string({wire::type_letter(1), wire::type_letter(2), wire::type_letter(3), wire::type_letter(4),
                         wire::type_letter(5), wire::type_letter(0), wire::type_letter(-1), wire::type_letter(9)}),
            "JTDRP???");
}

}  // namespace
