// Answers of the unit's interface controller to its service commands.
#include <map>

#include "sim/sim_unit.h"

namespace morlane::sim {

std::optional<std::string> SimUnit::ServiceAnswer(const std::string& command) {
  static const std::map<std::string, std::string> kAnswers = {
      {"Q1", "(230.1 229.8 230.0 012 50.0 27.2 --.- 00000000"},
      {"V2", "(V2 01.20"},
      {"V3", "(V3 03.40"},
      {"V", "(V 02.15"},
  };
  auto it = kAnswers.find(command);
  if (it == kAnswers.end()) return std::string("(NAK");
  return it->second;
}

}  // namespace morlane::sim
