// modelcheck FILE: checks the model data in a compiled resource file of the
// interface driver; one line per problem, exit 1 when there is any.
#include <cstdio>
#include <string_view>

#include "settings/directory_model_data.h"
#include "settings/model_check.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h") {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "usage: modelcheck FILE\n"
                     "Checks the model data in the interface driver's resource file FILE:\n"
                     "every reference of a model record resolves, every table keeps within\n"
                     "the sizes its readers take.\n");
        return argc == 2 ? 0 : 2;
    }
    const auto data = zq::DirectoryModelData::FromFile(argv[1]);
    if (!data) {
        std::fprintf(stderr, "modelcheck: %s is not a resource file\n", argv[1]);
        return 1;
    }
    int models = 0;
    const auto problems = zq::CheckModelData(*data, &models);
    for (const auto& p : problems) {
        std::fprintf(stderr, "modelcheck: %s\n", p.c_str());
    }
    std::printf("%d models checked, %zu problems\n", models, problems.size());
    return problems.empty() ? 0 : 1;
}
