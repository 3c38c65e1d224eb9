# The image-file library's TIFF and JPEG seeds, CMYK files among them.
q4_fuzz_program(cmyk_files SEEDS ${PROJECT_SOURCE_DIR}/imageio/fuzz/corpus/tiff
                ${PROJECT_SOURCE_DIR}/imageio/fuzz/corpus/jpeg)
