#include "app/Entry.h"

int main(int argc, char** argv) {
    return velserin::RunApplication(argc, argv, velserin::CreatePlaceholderForm);
}
