#include <memory>

#include "app/Config_f.h"
#include "app/Entry.h"

int main(int argc, char** argv) {
    return velserin::RunApplication(argc, argv, [] { return std::make_unique<TConfigForm>(); });
}
