// One entry of a menu as the models describe it; the front end builds its
// menus from lists of these and sends the ids back as commands.
#pragma once

#include <string>

struct MenuItem {
  std::string text;  // with '&' before the mnemonic, as in the resources
  int id = 0;        // command id; 0 for a separator
  bool separator = false;
  bool enabled = true;
  bool operator==(const MenuItem&) const = default;
};
