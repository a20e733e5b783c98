#include "docmodel/pipelined_sink.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

namespace vellora {
namespace {

// Writes down every call it takes, with the thread that made it.
struct RecordingSink final : StagingSink {
  void take_name(const std::array<char, kNameRecordBytes>& record) override {
    log += "name " + std::string(record.data()) + ";";
    threads.push_back(std::this_thread::get_id());
  }
  void take_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                      std::span<const std::uint8_t> cells) override {
    if (++paragraphs == throw_at) throw std::runtime_error("no room");
    log += "p" + std::to_string(alignment) + " " + std::string(text.begin(), text.end()) + " " +
           std::string(cells.begin(), cells.end()) + ";";
    threads.push_back(std::this_thread::get_id());
  }
  void take_background(std::uint8_t background) override {
    log += "bg " + std::to_string(background) + ";";
    threads.push_back(std::this_thread::get_id());
  }
  std::string log;
  std::vector<std::thread::id> threads;
  std::size_t paragraphs = 0, throw_at = 0;
};

// A document of `count` paragraphs of varied lengths, one of them longer
// than a whole batch, fed to `sink`.
void feed(StagingSink& sink, std::size_t count) {
  std::array<char, kNameRecordBytes> name{};
  std::memcpy(name.data(), "Book", 4);
  sink.take_name(name);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t size = i == count / 2 ? 300'000 : 1 + i * 37 % 1024;
    const std::vector<std::uint8_t> text(size, static_cast<std::uint8_t>('a' + i % 26));
    const std::vector<std::uint8_t> cells(size * kCellBytes, static_cast<std::uint8_t>('0' + i % 10));
    sink.take_paragraph(static_cast<std::int32_t>(i % 4), text, cells);
  }
  sink.take_background(7);
}

TEST(PipelinedSink, HandsOnEveryCallInOrderOnAnotherThread) {
  RecordingSink direct;
  feed(direct, 600);
  RecordingSink inner;
  PipelinedSink pipeline(inner);
  feed(pipeline, 600);
  pipeline.finish();
  EXPECT_EQ(inner.log, direct.log);
  EXPECT_NE(inner.threads.front(), std::this_thread::get_id());
}

TEST(PipelinedSink, ASmallDocumentStaysOnTheCallingThread) {
  RecordingSink inner;
  {
    PipelinedSink pipeline(inner);
    feed(pipeline, 1);  // the 300,000-byte paragraph alone fills a batch
  }
  RecordingSink small;
  PipelinedSink pipeline(small);
  std::array<char, kNameRecordBytes> name{};
  pipeline.take_name(name);
  pipeline.take_background(1);
  EXPECT_TRUE(small.log.empty()) << "nothing is handed over before a batch is full";
  pipeline.finish();
  EXPECT_EQ(small.log, "name ;bg 1;");
  EXPECT_EQ(small.threads.front(), std::this_thread::get_id());
  EXPECT_FALSE(inner.log.empty()) << "the destructor hands over what is left";
}

TEST(PipelinedSink, WhatTheInnerSinkThrowsReachesFinish) {
  for (const std::size_t count : {5, 600}) {
    RecordingSink inner;
    inner.throw_at = 3;
    PipelinedSink pipeline(inner);
    feed(pipeline, count);  // goes on past the failure without waiting forever
    EXPECT_THROW(pipeline.finish(), std::runtime_error) << count;
    EXPECT_NO_THROW(pipeline.finish());
    EXPECT_EQ(inner.paragraphs, 3u) << "nothing is taken after a failure";
  }
}

TEST(PipelinedSink, CallsOutOfTheUsualOrderArriveAsTheyCame) {
  const auto feed_out_of_order = [](StagingSink& sink) {
    std::array<char, kNameRecordBytes> name{};
    const std::vector<std::uint8_t> text{'x'};
    const std::vector<std::uint8_t> cells(kCellBytes, '0');
    sink.take_paragraph(1, text, cells);
    std::memcpy(name.data(), "late", 4);
    sink.take_name(name);
    sink.take_background(2);
    sink.take_paragraph(3, text, cells);
    sink.take_background(4);
    std::memcpy(name.data(), "last", 4);
    sink.take_name(name);
  };
  RecordingSink direct;
  feed_out_of_order(direct);
  RecordingSink inner;
  PipelinedSink pipeline(inner);
  feed_out_of_order(pipeline);
  pipeline.finish();
  EXPECT_EQ(inner.log, direct.log);
}

}  // namespace
}  // namespace vellora
