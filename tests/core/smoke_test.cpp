#include <gtest/gtest.h>

#include "journal/journal.h"

TEST(Journal, NewReaderHasNoTranslator) {
  velmora::Journal j;
  EXPECT_FALSE(j.HasTranslator());
}
