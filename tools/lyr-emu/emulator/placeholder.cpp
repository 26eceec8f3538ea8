namespace lyr_emu {}
