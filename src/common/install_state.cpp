#include "common/install_state.h"

InstallState& install_state() {
  static InstallState state;
  return state;
}
