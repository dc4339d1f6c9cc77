; Memory rows, driven by scripts/bench-memory.sh: plug-in calls at growing
; destination sizes, and a small result from a large source.
; bench/common.scm is loaded first.
;
; Environment: BENCH_RESULT (one record per call), BENCH_SIZES (destination
; sides, e.g. "4000 16000 30000"), BENCH_FLOAT_SIZES (the same for float).
; Records: CASE PRECISION SOURCE-SIDE DEST-SIDE SECONDS, in call order (the
; plug-in's peak memory lines come in the same order), then "done".

(define bench-port (open-output-file (getenv "BENCH_RESULT")))

(define (numbers text)
  (let loop ((port (open-input-string text)) (acc '()))
    (let ((v (read port)))
      (if (eof-object? v) (reverse acc) (loop port (cons v acc))))))

(define (record . fields) (write-record bench-port fields))

(define (source-image side precision)
  (let* ((image (car (gimp-image-new-with-precision
                      side side RGB
                      (if (equal? precision "float") PRECISION-FLOAT-LINEAR
                          PRECISION-U8-GAMMA))))
         (layer (car (gimp-layer-new image side side RGBA-IMAGE "src" 100
                                     LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer image layer 0 -1)
    (gimp-context-set-foreground '(200 120 40))
    (gimp-drawable-fill layer FILL-FOREGROUND)
    (gimp-image-undo-disable image)
    (list image layer)))

; The whole source onto a slightly slanted square of side `n`, bilinear.
(define (call name precision src-side n)
  (let* ((im (source-image src-side precision))
         (image (car im)) (layer (cadr im))
         (t0 (gettimeofday))
         (answer (catch #f (plug-in-tessaform
                            RUN-NONINTERACTIVE image layer "bench"
                            0 0 src-side 0 src-side src-side 0 src-side
                            0 0 n (* n 0.02) (* n 0.98) n (* n 0.01) (* n 0.97)
                            1 0 0)))
         (t1 (gettimeofday)))
    (record name precision src-side n
            (if answer (seconds-between t0 t1) "fail"))
    (gimp-image-delete image)))

(define sizes (numbers (getenv "BENCH_SIZES")))
(define float-sizes (numbers (getenv "BENCH_FLOAT_SIZES")))

; Start-up and a tiny warp, the floor every call pays.
(call "floor" "u8" 100 100)
(for-each (lambda (n) (call "grow" "u8" 2000 n)) sizes)
(call "small-from-large" "u8" 12000 100)
(call "floor" "float" 100 100)
(for-each (lambda (n) (call "grow" "float" 2000 n)) float-sizes)
(call "small-from-large" "float" 12000 100)
(display "done\n" bench-port)
(close-output-port bench-port)
