#pragma once
// The order voices are offered in: the user's own language first (the
// voice of their country before the language's other voices), then every
// other voice by name. The engine itself lists them by language code, which
// would put Afrikaans first for everybody.
#include "espeakengine_p.h"

#include <string>
#include <vector>

namespace zq::speech {

// The locale messages are shown in, by the usual precedence: LC_ALL, then
// LC_MESSAGES, then LANG (e.g. "en_US.UTF-8"); empty when none is set.
std::string MessagesLocale();

// Sorts the voices for a user of `locale` ("en_US.UTF-8", "de", "C", ...);
// stable, so voices the rules cannot tell apart keep the engine's order. A
// locale without a language, or with one no voice speaks, orders as "en"
// does: the English voices by name, then the rest.
void OrderForLocale(std::vector<EngineVoice>& voices, const std::string& locale);

} // namespace zq::speech
