// A test fixture with the real panel loaded from gse.uir, and readers of
// what its controls show and of the run-time calls made.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/model.h"

class PanelTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  int ival(int ctrl) const;
  double dval(int ctrl) const;
  std::string tval(int ctrl) const;
  rt::ControlState state(int ctrl) const;

  // The calls traced since SetUp (or the last clear_calls) as "Op" or
  // "Op PANEL_NAME", in call order.
  std::vector<std::string> calls() const;
  void clear_calls() const;

  int panel = 0;
  rt::PanelModel* model = nullptr;
};
