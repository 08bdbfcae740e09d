// SPDX-License-Identifier: MIT
// The piece pipeline: pieces delivered in order, and every failure stops it without ending
// the program, a raised error on the worker included.
#include "mdlPiecePipeline.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace metronel {
namespace {

TEST(PiecePipeline, DeliversInOrderAndStopsAtTheFirstFailure) {
    struct Row {
        const char* what;
        std::int64_t failAt; // -1: nothing fails
        int stage;           // 0 prepare, 1 work (raises), 2 deliver
        PipelineEnd end;
        std::vector<std::int64_t> delivered;
    };
    const Row rows[] = {
        {"all pieces", -1, 0, PipelineEnd::Done, {0, 1, 2, 3, 4}},
        {"prepare fails", 3, 0, PipelineEnd::PrepareFailed, {0, 1}},
        {"first prepare fails", 0, 0, PipelineEnd::PrepareFailed, {}},
        {"work raises", 2, 1, PipelineEnd::WorkFailed, {0, 1}},
        {"deliver fails", 1, 2, PipelineEnd::DeliverFailed, {0}},
    };
    for (const Row& row : rows) {
        std::vector<std::int64_t> delivered;
        std::vector<int> worked(5, 0);
        const PipelineEnd end = RunPiecePipeline(
            5, [&](std::int64_t k) { return !(row.stage == 0 && k == row.failAt); },
            [&](std::int64_t k) {
                if (row.stage == 1 && k == row.failAt)
                    throw std::runtime_error("no memory for this piece");
                ++worked[static_cast<std::size_t>(k)];
            },
            [&](std::int64_t k) {
                if (row.stage == 2 && k == row.failAt)
                    return false;
                EXPECT_EQ(worked[static_cast<std::size_t>(k)], 1) << row.what;
                delivered.push_back(k);
                return true;
            });
        EXPECT_EQ(end, row.end) << row.what;
        EXPECT_EQ(delivered, row.delivered) << row.what;
    }
}

} // namespace
} // namespace metronel
