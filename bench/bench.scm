; Call timings inside one headless GIMP run, driven by scripts/bench.sh.
; bench/common.scm is loaded first.
;
; Environment:
;   BENCH_RESULT  file that receives one record per timed call
;   BENCH_RUNS    timed runs of every case (default 3)
;   BENCH_MODE    "full": plug-in, GIMP's own perspective transform, the
;                 transfer floor and the tiny warp; "plugin": the plug-in and
;                 the tiny warp only (for a profile with another build of it)
;   BENCH_PNG     when set, the RGBA test image is saved there as PNG
;
; Records, one a line:  CASE IMAGE INTERP RUN SECONDS LAYER-W LAYER-H
; with CASE one of warmup, tiny, floor, plugin, gimp, and a last "done"; a
; failed call has SECONDS "fail".
; Calls of plug-in processes happen in the order of the records.

(define bench-port (open-output-file (getenv "BENCH_RESULT")))
(define bench-runs
  (let ((n (string->number (getenv "BENCH_RUNS"))))
    (if (and n (> n 0)) n 3)))
(define bench-full (not (equal? (getenv "BENCH_MODE") "plugin")))
(define bench-png (getenv "BENCH_PNG"))

(define image-w 4000)
(define image-h 3000)
; The whole image onto a perspective-like quadrangle; corners in order
; around the figure. Its box is about 3800 x 2850.
(define big-src (list 0 0 image-w 0 image-w image-h 0 image-h))
(define big-dst (list 100 75 3900 250 3750 2925 250 2700))
; A 2 x 2 destination: what every call costs before the first pixel.
(define tiny-src (list 0 0 2 0 2 2 0 2))
(define tiny-dst (list 20 20 22 20 22 22 20 22))

(define interp-names #("nearest" "linear" "cubic" "lanczos"))
(define gimp-interps
  (vector INTERPOLATION-NONE INTERPOLATION-LINEAR INTERPOLATION-CUBIC
          INTERPOLATION-NOHALO))

(define (record . fields) (write-record bench-port fields))

; Runs the call (a thunk answering a layer ID, or #f on failure), records its
; wall time and the resulting layer's size, then removes that layer.
(define (timed what name interp run img thunk)
  (let* ((t0 (gettimeofday))
         (layer (thunk))
         (t1 (gettimeofday)))
    (if (and layer (= (car (gimp-item-is-valid layer)) TRUE))
        (begin
          (record what name interp run (seconds-between t0 t1)
                  (car (gimp-drawable-width layer))
                  (car (gimp-drawable-height layer)))
          (gimp-image-remove-layer img layer))
        (record what name interp run "fail" 0 0))
    (forget-undo img)))

(define (bench-image name img layer)
  ; Warm-up, left out of the figures: caches the plug-in binary and the
  ; layer's tiles.
  (timed "warmup" name 0 0 img
         (plugin-thunk plug-in-tessaform img layer tiny-src tiny-dst 0 0))
  (do ((run 1 (+ run 1))) ((> run bench-runs))
    (timed "tiny" name 0 run img
           (plugin-thunk plug-in-tessaform img layer tiny-src tiny-dst 0 0))
    (when bench-full
      (timed "floor" name 0 run img
             (plugin-thunk plug-in-tessaform-floor img layer big-src big-dst 0 0)))
    (do ((interp 0 (+ interp 1))) ((> interp 3))
      (timed "plugin" name (vector-ref interp-names interp) run img
             (plugin-thunk plug-in-tessaform img layer big-src big-dst interp 0))
      (when bench-full
        (timed "gimp" name (vector-ref interp-names interp) run img
               (perspective-thunk img layer big-dst
                                  (vector-ref gimp-interps interp)))))))

(gimp-context-push)
(gimp-context-set-transform-direction TRANSFORM-FORWARD)
(gimp-context-set-transform-resize TRANSFORM-RESIZE-ADJUST)

(let* ((img (car (gimp-image-new image-w image-h RGB)))
       (layer (car (gimp-layer-new img image-w image-h RGBA-IMAGE "Source"
                                   100 LAYER-MODE-NORMAL))))
  (gimp-image-insert-layer img layer 0 0)
  ; Detailed content: no tile of it is uniform.
  (plug-in-plasma RUN-NONINTERACTIVE img layer 4242 2.5)
  (when (and bench-png (> (string-length bench-png) 0))
    (file-png-save2 RUN-NONINTERACTIVE img layer bench-png bench-png
                    0 1 0 0 0 0 0 0 0))
  (forget-undo img)
  (bench-image "rgba" img layer)

  ; The same pixels at 16-bit and at float, and with transparent areas.
  (define (variant name change)
    (let* ((img2 (car (gimp-image-duplicate img)))
           (layer2 (vector-ref (cadr (gimp-image-get-layers img2)) 0)))
      (change img2 layer2)
      (forget-undo img2)
      (bench-image name img2 layer2)
      (gimp-image-delete img2)))
  (variant "rgba16" (lambda (i l) (gimp-image-convert-precision i PRECISION-U16-GAMMA)))
  (variant "rgbaf" (lambda (i l) (gimp-image-convert-precision i PRECISION-FLOAT-LINEAR)))
  (variant "holes"
           (lambda (i l)
             ; Transparent discs across the image: many soft-edged cut-outs.
             (do ((k 0 (+ k 1))) ((= k 12))
               (gimp-image-select-ellipse i CHANNEL-OP-ADD (+ 100 (* 310 k))
                                          (+ 200 (* 180 (modulo k 5))) 600 900))
             (gimp-drawable-edit-clear l)
             (gimp-selection-none i)))

  ; The same pixels without alpha.
  (let* ((img2 (car (gimp-image-duplicate img)))
         (layer2 (vector-ref (cadr (gimp-image-get-layers img2)) 0)))
    (gimp-image-delete img)
    (gimp-layer-flatten layer2)
    (forget-undo img2)
    (bench-image "rgb" img2 layer2)
    (gimp-image-delete img2)))

(gimp-context-pop)
(record "done" "-" "-" 0 0 0 0)
(close-output-port bench-port)
