; What the pixels hold: colour weighted by alpha at the edge of a cut-out,
; 16-bit and float images at their own precision, and the same warp relative
; to a drawable wherever the drawable sits.

; Little-endian bytes of 16-bit and float samples, as get-pixel gives them.
(define (u16-of bytes i) (+ (list-ref bytes i) (* 256 (list-ref bytes (+ i 1)))))
(define (u16-bytes v) (list (modulo v 256) (quotient v 256)))

(define (float-of bytes i)
  (let* ((b0 (list-ref bytes i)) (b1 (list-ref bytes (+ i 1)))
         (b2 (list-ref bytes (+ i 2))) (b3 (list-ref bytes (+ i 3)))
         (e (+ (* 2 (modulo b3 128)) (quotient b2 128)))
         (m (+ (* 65536 (modulo b2 128)) (* 256 b1) b0))
         (v (if (= e 0) 0.0 (* (+ 1.0 (/ m 8388608.0)) (expt 2.0 (- e 127))))))
    (if (>= b3 128) (- v) v)))

; Positive values with at most 23 significant bits after the leading one.
(define (float-bytes v)
  (if (<= v 0)
      '(0 0 0 0)
      (let loop ((e 0) (m v))
        (cond ((>= m 2) (loop (+ e 1) (/ m 2)))
              ((< m 1) (loop (- e 1) (* m 2)))
              (else
               (let ((bits (+ (* (+ e 127) 8388608)
                              (inexact->exact (round (* (- m 1) 8388608))))))
                 (list (modulo bits 256) (modulo (quotient bits 256) 256)
                       (modulo (quotient bits 65536) 256) (quotient bits 16777216))))))))

(define (put-pixel drawable x y bytes)
  (gimp-drawable-set-pixel drawable x y (length bytes) (list->vector bytes)))

; Every pixel of a layer, row by row, as lists of bytes.
(define (layer-pixels layer)
  (let ((w (car (gimp-drawable-width layer))) (h (car (gimp-drawable-height layer))))
    (apply append (map (lambda (y) (map (lambda (x) (pixel-of layer x y)) (iota w)))
                       (iota h)))))

(define (e2e-cases)
  (group "opaque red square on a transparent layer"
    (lambda ()
      (let* ((im (make-image 24 24 RGBA-IMAGE 24 24 0 0 #f))
             (image (car im)) (src (cadr im)))
        ; The layer starts as (0, 0, 0, 0): transparent black.
        (for-each (lambda (y)
                    (for-each (lambda (x) (put-pixel src (+ x 8) (+ y 8) '(255 0 0 255)))
                              (iota 8)))
                  (iota 8))
        (for-each
         (lambda (kernel)
           ; Half a pixel right and a little turned: every kernel makes a
           ; soft edge.
           (let* ((layer (tessaform image src (rect 2 2 22 22)
                                    '((2.5 2.25) (22.5 2.75) (22.25 22.5) (2.75 22.25))
                                    kernel))
                  (pixels (layer-pixels layer))
                  (seen (filter-pixels (lambda (p) (> (cadddr p) 0)) pixels))
                  (soft (filter-pixels (lambda (p) (< 0 (cadddr p) 255)) seen))
                  (dark (filter-pixels (lambda (p) (or (< (car p) 254) (> (cadr p) 1)
                                                       (> (caddr p) 1)))
                                       seen)))
             (check (string-append "kernel " (number->string kernel)
                                   ": every pixel with alpha is red within 1")
                    '() (if (null? dark) '() (list (length dark) (car dark))))
             (check (string-append "kernel " (number->string kernel)
                                   ": the edge has partly transparent pixels")
                    #t (or (= kernel 0) (> (length soft) 10)))
             (gimp-image-remove-layer image layer)))
         '(0 1 2 3)))))

  (group "16-bit ramp, bilinear"
    (lambda ()
      ; Level 5 (x + 130 y): 13,000 distinct levels; half a pixel to the right
      ; each output is exactly 2.5 above its pixel's level.
      (let* ((W 130) (H 100)
             (im (make-image W H GRAY-IMAGE W H 0 0 PRECISION-U16-GAMMA))
             (image (car im)) (src (cadr im))
             (level (lambda (x y) (* 5 (+ x (* W y))))))
        (for-each (lambda (y)
                    (for-each (lambda (x) (put-pixel src x y (u16-bytes (level x y))))
                              (iota W)))
                  (iota H))
        (let* ((layer (tessaform image src (rect 0.5 0 129.5 100) (rect 0 0 129 100) 1))
               (o (gimp-drawable-offsets layer))
               (worst 0) (levels 0) (last -1))
          (for-each
           (lambda (y)
             (for-each
              (lambda (x)
                (let* ((got (u16-of (pixel-of layer (- x (car o)) (- y (cadr o))) 0))
                       (err (abs (- got (+ (level x y) 2.5)))))
                  (if (> err worst) (set! worst err))
                  (if (not (= got last)) (set! levels (+ levels 1)))
                  (set! last got)))
              (iota 128)))
           (iota H))
          (check "within 2 of 65535 of the exact result" #t (<= worst 2))
          (check "more than 10,000 distinct levels" #t (> levels 10000))))))

  (group "float image keeps values above 1"
    (lambda ()
      (let* ((im (make-image 16 8 RGBA-IMAGE 16 8 0 0 PRECISION-FLOAT-LINEAR))
             (image (car im)) (src (cadr im)))
        ; Red climbs to 4.0 by quarters, green stays at 4.0.
        (for-each (lambda (y)
                    (for-each (lambda (x)
                                (put-pixel src x y
                                           (append (float-bytes (/ x 4.0)) (float-bytes 4.0)
                                                   (float-bytes 0.5) (float-bytes 1.0))))
                              (iota 16)))
                  (iota 8))
        (for-each
         (lambda (kernel)
           (let* ((layer (tessaform image src (rect 0.5 0 15.5 8) (rect 0 0 15 8) kernel))
                  (o (gimp-drawable-offsets layer))
                  (p (pixel-of layer (- 12 (car o)) (- 4 (cadr o))))
                  (q (pixel-of layer (- 6 (car o)) (- 4 (cadr o)))))
             (check (string-append "kernel " (number->string kernel) ": red 3.125 at x 12")
                    #t (< (abs (- (float-of p 0) 3.125)) 1e-3))
             (check (string-append "kernel " (number->string kernel) ": green stays 4.0")
                    #t (and (< (abs (- (float-of p 4) 4.0)) 1e-3)
                            (< (abs (- (float-of q 4) 4.0)) 1e-3)))
             (gimp-image-remove-layer image layer)))
         '(1 3)))))

  (group "same warp relative to the drawable at other offsets"
    (lambda ()
      (let ((first #f) (first-offsets #f))
        (for-each
         (lambda (off)
           (let* ((ox (car off)) (oy (cadr off))
                  (im (make-image 32 24 RGBA-IMAGE 10 10 ox oy #f))
                  (image (car im)) (src (cadr im))
                  (at (lambda (q) (map (lambda (p) (list (+ (car p) ox) (+ (cadr p) oy))) q))))
             (fill-drawable src 4 (pattern-value 4) #f)
             (let* ((layer (tessaform image src (at (rect -2.6 -3.3 12.4 11.9))
                                      (at (rect -4.1 -2.2 16.7 13.3)) 1))
                    (o (gimp-drawable-offsets layer))
                    (rel (list (- (car o) ox) (- (cadr o) oy)))
                    (pixels (layer-pixels layer)))
               (if first
                   (begin
                     (check (string-append "offsets " (e2e-repr off) ": layer shifted alike")
                            first-offsets rel)
                     (check (string-append "offsets " (e2e-repr off) ": same pixels")
                            #t (equal? first pixels)))
                   (begin (set! first pixels) (set! first-offsets rel))))
             (gimp-image-delete image)))
         '((0 0) (5 3) (-5 -3)))))))

(define (filter-pixels keep pixels)
  (let loop ((ps pixels) (acc '()))
    (cond ((null? ps) (reverse acc))
          ((keep (car ps)) (loop (cdr ps) (cons (car ps) acc)))
          (else (loop (cdr ps) acc)))))
