#include "history/install.h"

#include "history/moment.h"
#include "history/reception.h"
#include "runtime/hooks.h"

namespace rt {

void history_install(bool trends) {
  if (trends) add_frame_observer(&reception_clock());
  moment_install();
}

}  // namespace rt
