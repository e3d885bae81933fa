// vantrel-chaos: many rounds of chaos.h against a running device, with a line per round and the
// closing figure "N acknowledged, M lost". Exits 0 only when nothing acknowledged was lost.
//   vantrel-chaos --device DIR [--rounds N] [--seed S]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/e2e_reliability/chaos.h"

int main(int argc, char** argv) {
    std::string folder;
    int rounds = 500;
    unsigned seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--device")
            folder = argv[i + 1];
        else if (a == "--rounds")
            rounds = std::atoi(argv[i + 1]);
        else if (a == "--seed")
            seed = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    }
    if (folder.empty() || rounds <= 0) {
        std::fprintf(stderr, "usage: vantrel-chaos --device DIR [--rounds N] [--seed S]\n");
        return 2;
    }
    auto tally = vantrel::chaos::runRounds(VANTREL_BINARY_DIR "/bin", folder, rounds, seed, [](const auto& t) {
        std::printf("round %d: %d acknowledged, %d refused, %d lost (%d stops, %d kills)\n", t.rounds, t.acknowledged, t.refused,
                    t.lost, t.stops, t.kills);
        std::fflush(stdout);
    });
    for (const auto& loss : tally.losses) std::printf("lost: %s\n", loss.c_str());
    std::printf("%d acknowledged, %d lost\n", tally.acknowledged, tally.lost);
    return tally.lost == 0 ? 0 : 1;
}
