// Answers of the unit's interface controller to its service commands. Each answer is one
// line starting with "(", as the controller prints it; the carriage return that ends it
// on the wire is added by the side that sends it.
#include <map>

#include "sim/sim_unit.h"

namespace morlane::sim {

namespace {

const std::map<std::string, std::string>& Answers() {
  static const std::map<std::string, std::string> kAnswers = {
      // Input, bypass and output voltage, load %, frequency, battery voltage,
      // temperature, status bits.
      {"Q1", "(230.1 229.8 230.0 012 50.0 27.2 --.- 00000000"},
      {"Lf?", "(LF 50.0 49.9"},
      {"Bl?", "(BL 100 27.2"},
      {"V", "(V 02.15"},
      {"V2", "(V2 01.20"},
      {"V3", "(V3 03.40"},
      {"BTUN", "(BTUN 12 02 2.25"},
      {"Si?", "(SI 1000VA 230V 50HZ"},
      {"BRR", "(BRR 0000 0365"},
      {"UAS", "(UAS 00000000 0000"},
      {"CF", "(CF 0001 0000 0000"},
      {"CF2", "(CF2 0000 0000 0000"},
      {"FWV", "(FWV 01.07 2012-04-12"},
  };
  return kAnswers;
}

}  // namespace

std::optional<std::string> SimUnit::ServiceAnswer(const std::string& command) {
  auto it = Answers().find(command);
  // Anything else, an empty line included, is refused in the controller's own words.
  if (it == Answers().end()) return std::string("(NAK");
  return it->second;
}

}  // namespace morlane::sim
